#pragma once
// Writes small ZIP archives (deflated entries) for the demo content.

#include <string>
#include <vector>

struct ZipEntry
{
    std::string name; // '/'-separated path inside the archive; a trailing '/' makes a folder
    std::string data;
};

// Written beside the target and renamed over it, so a reader never sees half an archive.
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries, std::string* error = nullptr);
