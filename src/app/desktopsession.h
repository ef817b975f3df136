#pragma once
// What makes the program a citizen of the Linux desktop it runs on: Qt's own texts (standard
// buttons, the folder browser) in Chinese whatever the locale, the desktop-file name the
// launcher entry and the window class share, and a data folder the user is told about when it
// cannot be written.

class QApplication;

// Once, in main() before the application object exists: the display platform for a Wayland
// session (Wayland itself, X11 only as the fall-back).
void ChooseDisplayPlatform();

// Once, in the application's constructor, before any window exists.
void SetUpDesktopSession(QApplication& app);

// Once the process is the first instance: makes the data folder ready and, when not even the
// per-user folder can be written, says so in one message box.
void CheckDataFolder();
