#include "download/httpdownload.h"

#include "config/trust.h"
#include "download/curlapi.h"
#include "download/downloadlog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QUrl>

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace download {

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
QMutex& openFilesLock()
{
    static QMutex lock;
    return lock;
}

QSet<QString>& openFiles()
{
    static QSet<QString> files;
    return files;
}

bool claimFile(const QString& key)
{
    QMutexLocker locker(&openFilesLock());
    if (openFiles().contains(key))
        return false;
    openFiles().insert(key);
    return true;
}

void releaseFile(const QString& key)
{
    QMutexLocker locker(&openFilesLock());
    openFiles().remove(key);
}

struct Task final : DownloadTask
{
    DownloadCallback callback;
    const PauseWatch* pauseWatch = nullptr;
    CURL* curl = nullptr;
    curl_slist* requestHeaders = nullptr;
    QFile file; // opened at the start when it exists, else once a 2xx answer arrives
    QString fileKey;
    QByteArray address; // as requested, for the log
    quint64 expectedTotal = 0;
    // Headers of the response being received, cleared at each status line.
    QByteArray contentRange;
    QByteArray contentEncoding;
    bool headersChecked = false; // the final response has been accepted
    bool discardBody = false;    // 416 to a resumed request: the file is already whole
    bool paused = false;
    bool failed = false; // refused response or failed write, already logged
    char errorText[CURL_ERROR_SIZE] = {};

    Task() { g_running.fetch_add(1); }
    ~Task()
    {
        if (curl)
            Curl()->easyCleanup(curl);
        Curl()->slistFreeAll(requestHeaders);
        g_running.fetch_sub(1);
    }

    bool PauseRequested()
    {
        if (pauseWatch && pauseWatch->load() == kPauseRequested)
            paused = true;
        return paused;
    }

    // Logs why the task is refusing what it received, and marks it failed.
    bool Refuse(const QString& why)
    {
        qCWarning(lcDownload).noquote() << address << "refused:" << why;
        failed = true;
        return false;
    }
};

void finishDownload(Task* task, int status)
{
    if (task->curl) {
        Curl()->easyCleanup(task->curl);
        task->curl = nullptr;
    }
    task->file.close();
    if (!task->fileKey.isEmpty())
        releaseFile(task->fileKey);
    if (task->callback)
        task->callback(status, *task);
    delete task;
}

// A decimal number of at most 18 digits and nothing else, or -1.
qint64 parseNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "bytes 1000-1499/1500", "bytes 1000-1499/*" or "bytes */1500"; -1 stands for "*".
struct ContentRange
{
    bool valid = false;
    qint64 start = -1;
    qint64 end = -1;
    qint64 total = -1;
};

ContentRange parseContentRange(QByteArrayView value)
{
    ContentRange r;
    const QByteArray v = value.trimmed().toByteArray();
    if (v.size() < 6 || qstrnicmp(v.constData(), "bytes ", 6) != 0)
        return r;
    const QByteArray rest = v.mid(6).trimmed();
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0)
        return r;
    const QByteArray span = rest.left(slash);
    const QByteArray total = rest.mid(slash + 1);
    if (total != "*") {
        r.total = parseNumber(total);
        if (r.total < 0)
            return r;
    }
    if (span == "*") {
        r.valid = r.total >= 0;
        return r;
    }
    const qsizetype dash = span.indexOf('-');
    if (dash < 0)
        return r;
    r.start = parseNumber(QByteArrayView(span).first(dash));
    r.end = parseNumber(QByteArrayView(span).sliced(dash + 1));
    r.valid = r.start >= 0 && r.end >= r.start && (r.total < 0 || r.end < r.total);
    return r;
}

// True when every coding listed is identity: the request asks for the file as it is, so a
// compressed body would be stored compressed and reported complete.
bool isIdentityCoding(const QByteArray& codings)
{
    for (const QByteArray& coding : codings.split(',')) {
        const QByteArray c = coding.trimmed().toLower();
        if (!c.isEmpty() && c != "identity")
            return false;
    }
    return true;
}

// The target is created here, not at the start, so that a refused answer leaves nothing.
bool openTarget(Task* t)
{
    if (t->file.isOpen())
        return true;
    if (!t->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::NewOnly | QIODevice::Unbuffered))
        return t->Refuse(
            QStringLiteral("cannot create %1: %2").arg(t->file.fileName(), t->file.errorString()));
    return true;
}

// A 416 to our range completes only when the server states exactly the file's length.
bool acceptRangeNotSatisfiable(Task* t)
{
    if (t->startOffset == 0)
        return t->Refuse(QStringLiteral("416 to a request without a range"));
    const ContentRange range = parseContentRange(t->contentRange);
    if (!range.valid || range.start >= 0)
        return t->Refuse(QStringLiteral("416 without the resource's size (Content-Range \"%1\")")
                             .arg(QString::fromLatin1(t->contentRange)));
    if (quint64(range.total) != t->startOffset)
        return t->Refuse(
            QStringLiteral("416 states %1 bytes, the file holds %2").arg(range.total).arg(t->startOffset));
    if (t->expectedTotal != 0 && quint64(range.total) != t->expectedTotal)
        return t->Refuse(QStringLiteral("416 states %1 bytes, the job was told %2")
                             .arg(range.total)
                             .arg(t->expectedTotal));
    t->discardBody = true;
    t->totalSize = t->startOffset;
    return true;
}

// A 206 is appended only when its range starts at the file's end and its start, end, total
// and length agree with each other and with what the job was told before.
bool acceptPartialContent(Task* t, curl_off_t length)
{
    const ContentRange range = parseContentRange(t->contentRange);
    if (!range.valid || range.start < 0)
        return t->Refuse(
            QStringLiteral("206 with Content-Range \"%1\"").arg(QString::fromLatin1(t->contentRange)));
    if (quint64(range.start) != t->startOffset)
        return t->Refuse(
            QStringLiteral("206 starts at %1, the file holds %2").arg(range.start).arg(t->startOffset));
    const qint64 span = range.end - range.start + 1;
    if (length >= 0 && length != span)
        return t->Refuse(QStringLiteral("206 carries %1 bytes for a range of %2").arg(length).arg(span));
    const quint64 total = range.total >= 0 ? quint64(range.total) : quint64(range.end) + 1;
    if (t->expectedTotal != 0 && total != t->expectedTotal)
        return t->Refuse(
            QStringLiteral("206 states %1 bytes, the job was told %2").arg(total).arg(t->expectedTotal));
    if (!openTarget(t))
        return false;
    // A part that stops short of the stated total leaves the file incomplete: the end check
    // then fails the task, keeping the correct bytes for the next attempt.
    t->totalSize = total;
    return true;
}

// The "headers available" step for the response that carries the body.
bool acceptResponse(Task* t)
{
    long code = 0;
    if (Curl()->easyGetinfo(t->curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return t->Refuse(QStringLiteral("no status code"));
    curl_off_t length = -1;
    if (Curl()->easyGetinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        length = -1;
    // Only bodies that are kept are judged by their coding; a 416's body is thrown away.
    if ((code == 200 || code == 206) && !isIdentityCoding(t->contentEncoding))
        return t->Refuse(
            QStringLiteral("Content-Encoding \"%1\"").arg(QString::fromLatin1(t->contentEncoding)));

    if (code == 416) {
        if (!acceptRangeNotSatisfiable(t))
            return false;
    } else if (code == 200) {
        if (!openTarget(t))
            return false;
        if (t->startOffset > 0) {
            // The server ignored the range and sends the whole resource; appending it would
            // corrupt the file, so the file starts again from empty.
            if (!t->file.resize(0))
                return t->Refuse(QStringLiteral("cannot empty the file: %1").arg(t->file.errorString()));
            t->startOffset = 0;
        }
        t->totalSize = length >= 0 ? quint64(length) : 0;
    } else if (code == 206) {
        if (!acceptPartialContent(t, length))
            return false;
    } else {
        return t->Refuse(QStringLiteral("status %1").arg(code));
    }
    t->received = 0;
    t->headersChecked = true;
    return true;
}

// The value of `line` when it is the header `name` (lower case, with the colon), else null.
QByteArrayView headerValue(QByteArrayView line, QByteArrayView name)
{
    if (line.size() < name.size() || line.first(name.size()).compare(name, Qt::CaseInsensitive) != 0)
        return {};
    return line.sliced(name.size()).trimmed();
}

size_t onHeader(char* data, size_t size, size_t count, void* context)
{
    auto* t = static_cast<Task*>(context);
    const size_t length = size * count;
    if (t->PauseRequested())
        return 0;
    const QByteArrayView line(data, qsizetype(length));
    if (line.startsWith("HTTP/")) {
        t->contentRange.clear();
        t->contentEncoding.clear();
        return length;
    }
    if (const QByteArrayView v = headerValue(line, "content-range:"); !v.isNull()) {
        t->contentRange = v.toByteArray();
        return length;
    }
    if (const QByteArrayView v = headerValue(line, "content-encoding:"); !v.isNull()) {
        t->contentEncoding += (t->contentEncoding.isEmpty() ? "" : ",") + v.toByteArray();
        return length;
    }
    // Trailers of a chunked body end with a blank line too; the response is judged once.
    if ((line != "\r\n" && line != "\n") || t->headersChecked)
        return length;

    // End of one response's headers. Interim (1xx) and redirect (3xx) responses are not the
    // one whose body we keep; a 3xx that is not followed is judged when the transfer ends.
    long code = 0;
    Curl()->easyGetinfo(t->curl, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || (code >= 300 && code < 400))
        return length;
    return acceptResponse(t) ? length : 0;
}

size_t onBody(char* data, size_t size, size_t count, void* context)
{
    auto* t = static_cast<Task*>(context);
    const size_t length = size * count;
    if (t->PauseRequested())
        return 0;
    if (!t->headersChecked && !acceptResponse(t))
        return 0;
    if (t->discardBody || length == 0)
        return length;
    if (t->file.write(data, qint64(length)) != qint64(length)) {
        // Disk full and the like: the bytes written so far stay.
        t->Refuse(QStringLiteral("write failed: %1").arg(t->file.errorString()));
        return 0;
    }
    t->received += length;
    if (t->callback)
        t->callback(kDownloadChunk, *t);
    return length;
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Task*>(context)->PauseRequested() ? 1 : 0;
}

int finalStatus(Task* t, CURLcode result)
{
    if (t->PauseRequested())
        return kDownloadPaused;
    if (t->failed)
        return kDownloadFailed;
    if (result != CURLE_OK) {
        qCWarning(lcDownload).noquote() << t->address << "failed:" << Curl()->easyStrerror(result)
                                        << QString::fromLocal8Bit(t->errorText);
        return kDownloadFailed;
    }
    // A transfer that ended on a response never checked (an unfollowed redirect) is refused.
    if (!t->headersChecked && !acceptResponse(t))
        return kDownloadFailed;
    if (t->totalSize != 0 && quint64(t->file.size()) != t->totalSize) {
        t->Refuse(QStringLiteral("ended with %1 bytes of %2").arg(t->file.size()).arg(t->totalSize));
        return kDownloadFailed;
    }
    return kDownloadComplete;
}

void runTransfer(Task* t)
{
    const CURLcode result = Curl()->easyPerform(t->curl);
    finishDownload(t, finalStatus(t, result));
}

// The encoded address to request, or empty when the address is outside what the engine takes.
QByteArray checkedAddress(const QString& address)
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

bool setUpRequest(Task* t, const QString& address)
{
    // libcurl keeps its own copies of every string option.
    const QByteArray url = checkedAddress(address);
    if (url.isEmpty()) {
        qCWarning(lcDownload).noquote() << "not an address the engine takes:" << address.left(200);
        return false;
    }
    t->address = url;
    CURL* c = t->curl;
    bool ok = true;
    auto set = [&ok](CURLcode r) { ok = ok && r == CURLE_OK; };
    set(Curl()->easySetopt(c, CURLOPT_URL, url.constData()));
    set(Curl()->easySetopt(c, CURLOPT_ERRORBUFFER, t->errorText));
    set(Curl()->easySetopt(c, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(Curl()->easySetopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(Curl()->easySetopt(c, CURLOPT_USERAGENT, "MSIE"));
    // Said outright: a request without it leaves the server free to pick any coding.
    t->requestHeaders = Curl()->slistAppend(nullptr, "Accept-Encoding: identity");
    set(Curl()->easySetopt(c, CURLOPT_HTTPHEADER, t->requestHeaders));
    set(Curl()->easySetopt(c, CURLOPT_FOLLOWLOCATION, 1L));
    set(Curl()->easySetopt(c, CURLOPT_MAXREDIRS, kMaxRedirects));
    set(Curl()->easySetopt(c, CURLOPT_NOSIGNAL, 1L));
    set(Curl()->easySetopt(c, CURLOPT_BUFFERSIZE, kReceiveBufferSize));
    set(Curl()->easySetopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds));
    set(Curl()->easySetopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(Curl()->easySetopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds));
    set(Curl()->easySetopt(c, CURLOPT_HEADERFUNCTION, &onHeader));
    set(Curl()->easySetopt(c, CURLOPT_HEADERDATA, t));
    set(Curl()->easySetopt(c, CURLOPT_WRITEFUNCTION, &onBody));
    set(Curl()->easySetopt(c, CURLOPT_WRITEDATA, t));
    // The progress hook only watches for a pause between chunks (idle connections included).
    set(Curl()->easySetopt(c, CURLOPT_XFERINFOFUNCTION, &onProgress));
    set(Curl()->easySetopt(c, CURLOPT_XFERINFODATA, t));
    set(Curl()->easySetopt(c, CURLOPT_NOPROGRESS, 0L));
    set(Curl()->easySetopt(c, CURLOPT_SSL_VERIFYPEER, 1L));
    set(Curl()->easySetopt(c, CURLOPT_SSL_VERIFYHOST, 2L));
    if (t->startOffset > 0) {
        const QByteArray range = QByteArray::number(t->startOffset) + '-'; // "Range: bytes=N-"
        set(Curl()->easySetopt(c, CURLOPT_RANGE, range.constData()));
    }
    // With a vendor CA, libcurl gets the system's CAs and the vendor's as one bundle: its CA
    // options replace its default store rather than adding to it.
    if (const QByteArray bundle = config::trust::CaBundlePem(); !bundle.isEmpty()) {
        curl_blob blob{const_cast<char*>(bundle.constData()), size_t(bundle.size()), CURL_BLOB_COPY};
        set(Curl()->easySetopt(c, CURLOPT_CAINFO_BLOB, &blob));
    }
    if (!ok)
        qCWarning(lcDownload).noquote() << t->address << "request could not be set up";
    return ok;
}

// Opens an existing target (without changing it) or checks that a missing one can be made
// later; sets the start offset and the key that keeps a second writer out.
bool prepareTarget(Task* t, const QString& targetPath)
{
    if (targetPath.isEmpty()) {
        qCWarning(lcDownload) << "no target file";
        return false;
    }
    t->file.setFileName(targetPath);
    const QFileInfo info(targetPath);
    if (info.exists()) {
        if (!t->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            qCWarning(lcDownload).noquote() << "cannot open" << targetPath << t->file.errorString();
            return false;
        }
        t->fileKey = QFileInfo(t->file).canonicalFilePath();
        t->startOffset = quint64(t->file.size());
    } else {
        const QFileInfo folder(info.absolutePath());
        if (!folder.isDir() || !folder.isWritable()) {
            qCWarning(lcDownload).noquote() << "no writable folder for" << targetPath;
            return false;
        }
        t->fileKey = QDir(folder.canonicalFilePath()).filePath(info.fileName());
    }
    if (t->fileKey.isEmpty() || !claimFile(t->fileKey)) {
        qCWarning(lcDownload).noquote() << targetPath << "is being written by another download";
        t->fileKey.clear();
        return false;
    }
    return true;
}

} // namespace

} // namespace download

int StartDownload(const QString& address, const QString& targetPath, qint64 jobId,
                  download::DownloadCallback callback, const download::PauseWatch* pauseWatch,
                  quint64 expectedTotal)
{
    if (!download::Curl())
        return 0; // why is logged where the library failed to load

    auto task = std::make_unique<download::Task>();
    task->jobId = jobId;
    task->callback = std::move(callback);
    task->pauseWatch = pauseWatch;
    task->expectedTotal = expectedTotal;
    if (!download::prepareTarget(task.get(), targetPath))
        return 0;

    task->curl = download::Curl()->easyInit();
    if (!task->curl) {
        qCWarning(download::lcDownload) << "no HTTP session";
        download::releaseFile(task->fileKey);
        return 0;
    }
    download::Task* t = task.release(); // from here on finishDownload destroys it
    if (!download::setUpRequest(t, address)) {
        download::finishDownload(t, download::kDownloadFailed);
        return 1;
    }
    try {
        std::thread(&download::runTransfer, t).detach();
    } catch (const std::system_error& e) {
        qCWarning(download::lcDownload) << "no worker thread:" << e.what();
        download::finishDownload(t, download::kDownloadFailed);
    }
    return 1;
}

namespace download {

int RunningDownloadCount()
{
    return g_running.load();
}

} // namespace download
