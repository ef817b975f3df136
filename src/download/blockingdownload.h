#pragma once
// A download that blocks its caller until the whole file is on disk: the install dialog's
// worker uses it for resource packs and the repair archive. Same engine as the page's jobs.

#include "download/httpdownload.h"

#include <QString>
#include <QtGlobal>

#include <functional>

namespace download {

// Called on the engine's worker thread after each chunk: bytes so far and the total
// (0 when the server gave no length).
using DownloadProgress = std::function<void(quint64 done, quint64 total)>;

// Downloads address into targetPath, replacing any file there, and returns true only when the
// transfer completed and the file holds the whole body (its advertised length, when known);
// the engine's checks of ranges and content coding apply. A failed download leaves what was
// received in place (nothing at all when the server refused), for the caller to keep or delete.
// Setting *cancel to kPauseRequested from another thread stops the download (false).
bool DownloadToFile(const QString& address, const QString& targetPath, const DownloadProgress& progress = {},
                    const PauseWatch* cancel = nullptr);

} // namespace download
