#include "zipwriter.h"

#include <minizip/zip.h>

#include <cstdio>
#include <ctime>

bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries, std::string* error)
{
    const std::string temp = path + ".part";
    zipFile zip = zipOpen64(temp.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        if (error)
            *error = "cannot create " + temp;
        return false;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    zip_fileinfo info{};
    info.tmz_date = {static_cast<uInt>(local.tm_sec),  static_cast<uInt>(local.tm_min),
                     static_cast<uInt>(local.tm_hour), static_cast<uInt>(local.tm_mday),
                     static_cast<uInt>(local.tm_mon),  static_cast<uInt>(local.tm_year + 1900)};
    bool ok = true;
    for (const ZipEntry& e : entries) {
        const bool folder = !e.name.empty() && e.name.back() == '/';
        info.external_fa = folder ? 0x10 : 0x20; // MS-DOS folder / archive attribute
        ok = zipOpenNewFileInZip64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   folder ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0)
                == ZIP_OK
            && (e.data.empty()
                || zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK)
            && zipCloseFileInZip(zip) == ZIP_OK;
        if (!ok)
            break;
    }
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok) {
        std::remove(temp.c_str());
        if (error)
            *error = "cannot write " + path;
    }
    return ok;
}
