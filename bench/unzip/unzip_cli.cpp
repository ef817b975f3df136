// Unpacks one archive with UnzipArchiveToFolder in a process of its own, so that the
// benchmark can measure its time and peak memory like those of the other tools.
// A third argument sets the number of threads (UnzipArchive's workers), for comparisons.
#include "archive/unzipfolder.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: unzip_cli <archive> <folder> [threads]\n");
        return 2;
    }
    const QString archive = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    if (argc == 3)
        return UnzipArchiveToFolder(archive, folder) ? 0 : 1;
    archive::UnzipOptions options;
    options.workers = std::atoi(argv[3]);
    return archive::UnzipArchive(archive, folder, options) == archive::UnzipError::None ? 0 : 1;
}
