#include "platform_gui/hotkey.h"
#include "platform_gui/portalshortcut.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLoggingCategory>

#if QT_CONFIG(xcb)
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#endif

namespace platform {

namespace {

// Shown by default: a player who misses F11 finds the reason in one line.
Q_LOGGING_CATEGORY(lcHotKey, "yfzs.hotkey", QtInfoMsg)

// Where no key grab exists (Wayland, or another program holds the key on X11), the desktop's
// portal is asked instead; where it has none either, one line says so and the key stays off.
void bindThroughPortal(GlobalHotKey* hotKey, int key, const QString& description)
{
    auto* portal = new PortalShortcut(key, description, hotKey);
    QObject::connect(portal, &PortalShortcut::Activated, hotKey, &GlobalHotKey::Activated);
    QObject::connect(portal, &PortalShortcut::Bound, hotKey, [key] {
        qCInfo(lcHotKey).noquote() << QKeySequence(key).toString()
                                   << "through the desktop's global-shortcuts portal";
    });
    QObject::connect(portal, &PortalShortcut::Unavailable, hotKey, [key](const QString& why) {
        qCInfo(lcHotKey).noquote() << QKeySequence(key).toString()
                                   << "is unavailable on this desktop:" << why;
    });
}

} // namespace

#if QT_CONFIG(xcb)

// The grab lives on the root window; Num Lock and Caps Lock must not hide the key, so each
// combination of those two is grabbed as well.
struct GlobalHotKey::Private : QAbstractNativeEventFilter
{
    GlobalHotKey* owner = nullptr;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    xcb_keycode_t keycode = 0;
    bool registered = false;

    static constexpr uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                              XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
            return false;
        const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
        const uint16_t mods = press->state & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
        if (press->detail != keycode || press->event != root || (mods & 0xff) != 0)
            return false;
        emit owner->Activated();
        return true;
    }

    void grab(int key)
    {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || key < Qt::Key_F1 || key > Qt::Key_F35)
            return;
        Display* display = x11->display();
        connection = x11->connection();
        if (!display || !connection)
            return;
        const KeySym sym = XK_F1 + (key - Qt::Key_F1);
        keycode = static_cast<xcb_keycode_t>(XKeysymToKeycode(display, sym));
        if (keycode == 0)
            return;
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        // Checked requests: another program holding the key makes the grab fail.
        bool ok = true;
        for (uint16_t mask : kLockMasks) {
            xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, root, mask, keycode,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
                free(error);
                ok = false;
            }
        }
        if (!ok) {
            ungrab();
            return;
        }
        registered = true;
        qGuiApp->installNativeEventFilter(this);
    }

    void ungrab()
    {
        if (!connection || keycode == 0)
            return;
        for (uint16_t mask : kLockMasks)
            xcb_ungrab_key(connection, keycode, root, mask);
        xcb_flush(connection);
    }
};

GlobalHotKey::GlobalHotKey(int key, QObject* parent, const QString& description)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->owner = this;
    d->grab(key);
    if (!d->registered)
        bindThroughPortal(this, key, description);
}

GlobalHotKey::~GlobalHotKey()
{
    if (d->registered) {
        if (qGuiApp)
            qGuiApp->removeNativeEventFilter(d.get());
        d->ungrab();
    }
}

#else

struct GlobalHotKey::Private
{
    bool registered = false;
};

GlobalHotKey::GlobalHotKey(int key, QObject* parent, const QString& description)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    bindThroughPortal(this, key, description);
}

GlobalHotKey::~GlobalHotKey() = default;

#endif

bool GlobalHotKey::IsRegistered() const
{
    const auto* portal = findChild<PortalShortcut*>();
    return d->registered || (portal && portal->IsBound());
}

} // namespace platform
