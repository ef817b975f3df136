#pragma once

class QWidget;

// The repair button: finds the official-server game folder and downloads the repair archive
// over it with the install dialog. Returns after the dialog has closed.
void RepairGame(QWidget* owner);
