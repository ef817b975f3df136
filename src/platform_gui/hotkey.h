#pragma once
// A system-wide hot key: one key without modifiers whose presses reach this program whichever
// program has the keyboard focus. On X11 a key grab; where there is none (Wayland, offscreen,
// or another program holds the key) the desktop's global-shortcuts portal, which may ask the
// user first; where neither exists the key is unavailable, said in one log line (yfzs.hotkey).

#include <QObject>
#include <QString>

#include <memory>

namespace platform {

class GlobalHotKey : public QObject
{
    Q_OBJECT

public:
    // Tries to take `key` (Qt::Key_F1 .. Qt::Key_F35) at once; the result is IsRegistered(),
    // which through the portal turns true only later. `description` is what the desktop shows
    // the user for it. Needs a QGuiApplication.
    explicit GlobalHotKey(int key, QObject* parent = nullptr, const QString& description = {});
    ~GlobalHotKey() override;

    bool IsRegistered() const;

signals:
    void Activated();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
