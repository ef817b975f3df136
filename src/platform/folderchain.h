#pragma once
// Making sure a folder and all its parents exist, for archive extraction and the download jobs
// alike. Paths may separate levels with '\' or '/'; both count on every system.

#include <QString>

// Creates every missing folder along the path (failures along the way are ignored) and
// answers whether the whole path names an existing folder afterwards.
bool CreateFolderChain(const QString& path);

// True when the path names an existing folder (a trailing separator is allowed).
bool IsExistingFolder(const QString& path);
