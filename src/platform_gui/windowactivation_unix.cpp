#include "platform_gui/windowactivation.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QWindow>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace platform {
namespace {

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

#if QT_CONFIG(xcb)

struct X11
{
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

X11 x11()
{
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!app || !app->connection())
        return {};
    xcb_connection_t* c = app->connection();
    return {c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root};
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return result;
}

// A launcher's startup id ends in "_TIME<n>", the X server time of the click that started it.
uint32_t launchTime(const QString& token)
{
    static const QRegularExpression time(QStringLiteral("_TIME(\\d+)$"));
    const QRegularExpressionMatch m = time.match(token);
    return m.hasMatch() ? m.captured(1).toUInt() : XCB_CURRENT_TIME;
}

// Startup notification: the message goes to the root window in 20-byte pieces, the first one
// marked as the beginning, the text NUL-terminated.
void sendStartupMessage(const X11& x, xcb_window_t from, const QByteArray& message)
{
    const xcb_atom_t begin = atom(x.connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(x.connection, "_NET_STARTUP_INFO");
    const QByteArray text = message + '\0';
    for (qsizetype at = 0; at < text.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = from;
        event.type = at == 0 ? begin : more;
        memcpy(event.data.data8, text.constData() + at, size_t(qMin<qsizetype>(20, text.size() - at)));
        xcb_send_event(x.connection, 0, x.root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
}

QByteArray quotedStartupValue(const QString& value)
{
    QByteArray quoted = value.toUtf8();
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

#endif

} // namespace

void PrepareActivation(QWindow* window, const QString& activationToken)
{
    if (!window || activationToken.isEmpty())
        return;
    if (onWayland()) {
        // Qt's xdg-shell takes the token from here with its next activation request (or the
        // surface it makes when a hidden window is shown) and clears it.
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
        return;
    }
#if QT_CONFIG(xcb)
    const X11 x = x11();
    if (!x.connection)
        return;
    const QByteArray id = activationToken.toUtf8();
    xcb_change_property(x.connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        atom(x.connection, "_NET_STARTUP_ID"), atom(x.connection, "UTF8_STRING"), 8,
                        uint32_t(id.size()), id.constData());
    xcb_flush(x.connection);
#endif
}

void ActivateWindow(QWindow* window, const QString& activationToken)
{
    if (!window)
        return;
    if (onWayland()) {
        // Without a token (or a focused window of ours to ask one for) the compositor would
        // refuse, and Qt would warn about it.
        // The token again: showing a hidden window may have used it up on its new surface.
        if (!activationToken.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
        if (!activationToken.isEmpty() || QGuiApplication::focusWindow())
            window->requestActivate();
        return;
    }
    window->requestActivate();
    if (activationToken.isEmpty())
        return;
#if QT_CONFIG(xcb)
    const X11 x = x11();
    if (!x.connection)
        return;
    const auto id = xcb_window_t(window->winId());
    // Qt asks with the time of the last event it saw, which may be long ago for a window in the
    // tray; the launcher's click is the user's latest wish.
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = id;
    event.type = atom(x.connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1; // from an application
    event.data.data32[1] = launchTime(activationToken);
    xcb_send_event(x.connection, 0, x.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    // The later start that carried the token showed no window, so the busy cursor it began is
    // ended here.
    sendStartupMessage(x, id, "remove: ID=" + quotedStartupValue(activationToken));
    xcb_flush(x.connection);
#endif
}

} // namespace platform
