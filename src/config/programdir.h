#pragma once

#include <QString>

// The folder of the running executable, ending with exactly one separator. Computed anew on
// every call: a moved program finds its own config.ini without any restart logic.
QString GetProgramDir();

// GetProgramDir() + "config.ini": the program's own settings file.
QString GetConfigPath();
