#pragma once
// Bringing a window to the front on behalf of a launcher. Desktops refuse a program that raises
// itself unasked (Wayland always, X11 window managers with focus-stealing prevention); the
// launcher's token — the startup-notification id on X11, the xdg-activation token on Wayland —
// is the proof that the user asked. Without a token both calls still do what they can.

#include <QString>

class QWindow;

namespace platform {

// Before `window` is shown or restored: lets the window manager see the token when it maps the
// window (X11: _NET_STARTUP_ID on the window).
void PrepareActivation(QWindow* window, const QString& activationToken);

// Once it is shown: asks for the focus with the token and ends the launcher's busy feedback.
void ActivateWindow(QWindow* window, const QString& activationToken);

} // namespace platform
