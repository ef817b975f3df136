#include "httpdownload.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr qsizetype kMaxAddressLength = 4096;
constexpr qsizetype kMaxHostLength = 256;
// libcurl's receive buffer is the task's only per-download memory; the benchmark in
// bench/download shows this size keeps up with the curl tool at lower CPU cost.
constexpr long kReceiveBufferSize = 128 * 1024;
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 30; // less than one byte a second for this long fails the task
constexpr long kMaxRedirects = 10;

std::atomic<int> g_running{0};

// Files some task is writing. A second task for the same file is refused, the way an
// exclusive share mode refuses a second writer.
QMutex& OpenFilesLock()
{
    static QMutex lock;
    return lock;
}

QSet<QString>& OpenFiles()
{
    static QSet<QString> files;
    return files;
}

bool ClaimFile(const QString& key)
{
    QMutexLocker locker(&OpenFilesLock());
    if (OpenFiles().contains(key))
        return false;
    OpenFiles().insert(key);
    return true;
}

void ReleaseFile(const QString& key)
{
    QMutexLocker locker(&OpenFilesLock());
    OpenFiles().remove(key);
}

struct Task final : DownloadTask
{
    DownloadCallback callback;
    const PauseWatch* pauseWatch = nullptr;
    CURL* curl = nullptr;
    QFile file;
    QString fileKey;
    qint64 contentRangeStart = -1; // from the current response's Content-Range, -1 if none
    bool headersChecked = false;   // the final response's status has been accepted
    bool discardBody = false;      // 416 to a resumed request: the file is already whole
    bool paused = false;
    bool failed = false;           // refused response or failed write

    Task() { g_running.fetch_add(1); }
    ~Task()
    {
        if (curl)
            curl_easy_cleanup(curl);
        g_running.fetch_sub(1);
    }

    bool PauseRequested()
    {
        if (pauseWatch && pauseWatch->load() == kPauseRequested)
            paused = true;
        return paused;
    }
};

void FinishDownload(Task* task, int status)
{
    if (task->curl) {
        curl_easy_cleanup(task->curl);
        task->curl = nullptr;
    }
    task->file.close();
    if (!task->fileKey.isEmpty())
        ReleaseFile(task->fileKey);
    if (task->callback)
        task->callback(status, *task);
    delete task;
}

// The "headers available" step for the response that carries the body.
bool AcceptResponse(Task* t)
{
    long code = 0;
    if (curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return false;
    curl_off_t length = -1;
    if (curl_easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        length = -1;

    if (code == 416) {
        // Only meaningful as the answer to our own range: the file already holds everything.
        if (t->startOffset == 0)
            return false;
        t->discardBody = true;
        t->totalSize = t->startOffset;
    } else if (code == 200) {
        if (t->startOffset > 0) {
            // The server ignored the range and sends the whole resource; appending it would
            // corrupt the file, so the file starts again from empty.
            if (!t->file.resize(0))
                return false;
            t->startOffset = 0;
        }
        t->totalSize = length >= 0 ? quint64(length) : 0;
    } else if (code == 206) {
        if (t->contentRangeStart >= 0 && quint64(t->contentRangeStart) != t->startOffset)
            return false; // some other part of the resource: appending it would corrupt the file
        t->totalSize = length >= 0 ? t->startOffset + quint64(length) : 0;
    } else {
        return false;
    }
    t->received = 0;
    t->headersChecked = true;
    return true;
}

// "Content-Range: bytes 1000-1499/1500" → 1000.
qint64 ParseContentRangeStart(QByteArrayView value)
{
    const QByteArray v = value.trimmed().toByteArray();
    if (!v.startsWith("bytes "))
        return -1;
    const qsizetype dash = v.indexOf('-', 6);
    if (dash < 0)
        return -1;
    bool ok = false;
    const qint64 start = v.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok ? start : -1;
}

size_t OnHeader(char* data, size_t size, size_t count, void* context)
{
    auto* t = static_cast<Task*>(context);
    const size_t length = size * count;
    if (t->PauseRequested())
        return 0;
    const QByteArrayView line(data, qsizetype(length));
    if (line.startsWith("HTTP/")) {
        t->contentRangeStart = -1;
        return length;
    }
    static constexpr QByteArrayView kContentRange("content-range:");
    if (line.size() > kContentRange.size()
        && line.first(kContentRange.size()).compare(kContentRange, Qt::CaseInsensitive) == 0) {
        t->contentRangeStart = ParseContentRangeStart(line.sliced(kContentRange.size()));
        return length;
    }
    if (line != "\r\n" && line != "\n")
        return length;

    // End of one response's headers. Interim (1xx) and redirect (3xx) responses are not the
    // one whose body we keep; a 3xx that is not followed is judged when the transfer ends.
    long code = 0;
    curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || (code >= 300 && code < 400))
        return length;
    if (!AcceptResponse(t)) {
        t->failed = true;
        return 0;
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* context)
{
    auto* t = static_cast<Task*>(context);
    const size_t length = size * count;
    if (t->PauseRequested())
        return 0;
    if (!t->headersChecked && !AcceptResponse(t)) {
        t->failed = true;
        return 0;
    }
    if (t->discardBody || length == 0)
        return length;
    if (t->file.write(data, qint64(length)) != qint64(length)) {
        t->failed = true; // disk full and the like: the bytes written so far stay
        return 0;
    }
    t->received += length;
    if (t->callback)
        t->callback(kDownloadChunk, *t);
    return length;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Task*>(context)->PauseRequested() ? 1 : 0;
}

int FinalStatus(Task* t, CURLcode result)
{
    if (t->PauseRequested())
        return kDownloadPaused;
    if (t->failed || result != CURLE_OK)
        return kDownloadFailed;
    // A transfer that ended on a response never checked (an unfollowed redirect) is refused.
    if (!t->headersChecked && !AcceptResponse(t))
        return kDownloadFailed;
    return kDownloadComplete;
}

void RunTransfer(Task* t)
{
    const CURLcode result = curl_easy_perform(t->curl);
    FinishDownload(t, FinalStatus(t, result));
}

// The encoded address to request, or empty when the address is outside what the engine takes.
QByteArray CheckedAddress(const QString& address)
{
    if (address.size() > kMaxAddressLength)
        return {};
    const QUrl url(address, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https"))
        return {};
    const QString host = url.host();
    if (host.isEmpty() || host.size() > kMaxHostLength)
        return {};
    return url.toEncoded();
}

bool SetUpRequest(Task* t, const QString& address)
{
    // libcurl keeps its own copies of every string option.
    const QByteArray url = CheckedAddress(address);
    if (url.isEmpty())
        return false;
    CURL* c = t->curl;
    bool ok = true;
    auto set = [&ok](CURLcode r) { ok = ok && r == CURLE_OK; };
    set(curl_easy_setopt(c, CURLOPT_URL, url.constData()));
    set(curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(c, CURLOPT_USERAGENT, "MSIE"));
    set(curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirects));
    set(curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize));
    set(curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
    set(curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds));
    set(curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &OnHeader));
    set(curl_easy_setopt(c, CURLOPT_HEADERDATA, t));
    set(curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &OnBody));
    set(curl_easy_setopt(c, CURLOPT_WRITEDATA, t));
    // The progress hook only watches for a pause between chunks (idle connections included).
    set(curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &OnProgress));
    set(curl_easy_setopt(c, CURLOPT_XFERINFODATA, t));
    set(curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L));
    set(curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L));
    if (t->startOffset > 0) {
        const QByteArray range = QByteArray::number(t->startOffset) + '-'; // "Range: bytes=N-"
        set(curl_easy_setopt(c, CURLOPT_RANGE, range.constData()));
    }
    // An extra CA file joins the system's certificate folder, which stays in use.
    const QByteArray caFile = qgetenv("QX77_CA_FILE");
    if (!caFile.isEmpty())
        set(curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData()));
    return ok;
}

} // namespace

int StartDownload(const QString& address, const QString& targetPath, qint64 jobId,
                  DownloadCallback callback, const PauseWatch* pauseWatch)
{
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    auto* t = new Task;
    t->jobId = jobId;
    t->callback = std::move(callback);
    t->pauseWatch = pauseWatch;

    t->file.setFileName(targetPath);
    if (targetPath.isEmpty()
        || !t->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        delete t;
        return 0;
    }
    const QString key = QFileInfo(t->file).canonicalFilePath();
    if (key.isEmpty() || !ClaimFile(key)) {
        delete t;
        return 0;
    }
    t->fileKey = key;
    t->startOffset = quint64(t->file.size());

    t->curl = curl_easy_init();
    if (!t->curl) {
        ReleaseFile(key);
        delete t;
        return 0;
    }
    if (!SetUpRequest(t, address)) {
        FinishDownload(t, kDownloadFailed);
        return 1;
    }
    try {
        std::thread(&RunTransfer, t).detach();
    } catch (const std::system_error&) {
        FinishDownload(t, kDownloadFailed);
    }
    return 1;
}

int RunningDownloadCount()
{
    return g_running.load();
}
