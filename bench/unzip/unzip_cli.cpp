// Unpacks one archive with UnzipArchiveToFolder in a process of its own, so that the
// benchmark can measure its time and peak memory like those of the other tools.
#include "unzipfolder.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: unzip_cli <archive> <folder>\n");
        return 2;
    }
    return UnzipArchiveToFolder(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
