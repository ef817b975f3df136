#pragma once
// Folder helpers shared by archive extraction and the download jobs: making sure a folder and
// all its parents exist. Paths may separate levels with '\' or '/'; both count on every system.

#include <QString>

// Creates every missing folder along the path (failures along the way are ignored) and
// answers whether the whole path names an existing folder afterwards.
bool CreateFolderChain(const QString& path);

// True when the path names an existing folder (a trailing separator is allowed).
bool IsExistingFolder(const QString& path);

// Makes sure root exists, then root + dir and each of its parents below root. Never fails by
// itself: a folder that could not be made shows up when something is written into it.
void EnsureFolder(const QString& root, const QString& dir);
