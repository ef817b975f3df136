#pragma once
// A resource-pack-like archive for the benchmark: about 2,000 entries and 150 MB unpacked,
// many small compressible files, stored incompressible images and a few large files.

#include <QString>

struct PackSummary
{
    int files = 0;
    qint64 bytes = 0;
};

// Writes the archive (through a temporary name) and answers what it holds.
bool GeneratePack(const QString& path, PackSummary& summary);
