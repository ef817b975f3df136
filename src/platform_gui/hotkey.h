#pragma once
// A system-wide hot key: one key without modifiers whose presses reach this program whichever
// program has the keyboard focus. Where the windowing system offers no such grab (no X11
// connection, e.g. offscreen or pure Wayland) the key is simply unavailable.

#include <QObject>

#include <memory>

namespace platform {

class GlobalHotKey : public QObject
{
    Q_OBJECT

public:
    // Tries to take `key` (Qt::Key_F1 .. Qt::Key_F35) at once; the result is IsRegistered().
    // Needs a QGuiApplication.
    explicit GlobalHotKey(int key, QObject* parent = nullptr);
    ~GlobalHotKey() override;

    bool IsRegistered() const;

signals:
    void Activated();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
