#pragma once
// Getting the data folder ready at start-up. A system install keeps its files in the per-user
// data folder, which may not exist yet; it is made here, and config.ini there is given the
// version and server-time stamp of the build, which is what such an install runs (it is only
// ever updated through the package manager).

#include <QString>

namespace config {

enum class DataFolderState {
    Ready,       // the folder exists and can be written
    NotWritable, // not even the per-user folder can be made or written: nothing will be kept
};

// Makes the per-user folder for a system install and brings config.ini's [yfzsver] up to the
// build's version and stamp (a fresh file gets them; after a package upgrade they are renewed).
// A portable folder is left exactly as it is.
DataFolderState PrepareDataFolder();

// What the user is told, once, when the folder cannot be written.
QString DataFolderMessage(const QString& folder);

// The build's own version and server-time stamp.
QString BuildVersion();
QString BuildSerTime();

} // namespace config
