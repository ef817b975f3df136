#pragma once
// Whether the desktop shows tray icons right now. Stock GNOME has no tray: there "hide to tray"
// would leave a running program nobody can reach, so the close button minimises instead, the
// settings dialog says why, and a later start brings the window back.

#include <QString>

#include <optional>

namespace widgets {

// Asked afresh each time: a tray host may come or go while the program runs.
bool SystemTrayAvailable();

// Test seam: a fixed answer (std::nullopt: ask the desktop again).
void SetSystemTrayAvailableForTest(std::optional<bool> available);

// Shown beside the settings dialog's "隐藏到托盘" while no tray is available.
QString NoTrayExplanation();

} // namespace widgets
