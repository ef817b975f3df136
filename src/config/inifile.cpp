#include "config/inifile.h"

#include "config/iniformat.h"
#include "config/inilog.h"
#include "config/settingskeys.h"
#include "platform/fileio.h"
#include "platform/nativepaths.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>

#include <map>
#include <memory>
#include <optional>

// The format internals live in config::ini; ReadIniString and WriteIniString keep their global names.
namespace ini = config::ini;
using config::lcIni;

namespace {

// A settings file is a few kilobytes; anything this large is not one, and reading it whole
// would only cost the caller memory and time.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
// Parsed files kept for later reads: only files of settings size, and only a few of them (the
// page may name any file).
constexpr qsizetype kMaxCachedFileSize = 1024 * 1024;
constexpr qsizetype kMaxCachedFiles = 16;
// How long a writer waits for another process's write of the same file before giving up.
constexpr int kLockTimeoutMs = 5000;

const char* describe(platform::FileReadStatus status)
{
    switch (status) {
    case platform::FileReadStatus::Ok:
        return "ok";
    case platform::FileReadStatus::Missing:
        return "missing";
    case platform::FileReadStatus::NotRegular:
        return "not a regular file";
    case platform::FileReadStatus::TooLarge:
        return "larger than 64 MiB";
    case platform::FileReadStatus::Failed:
        break;
    }
    return "cannot be read";
}

// Parsed files by path. An entry serves a read only while the path still names the very same
// version of the file (same identity), so a rename by any writer, an edit in place or a
// replaced file is seen at the next read for the price of one stat.
class ParseCache
{
public:
    std::shared_ptr<const ini::Index> find(const QString& path, const platform::FileIdentity& identity)
    {
        QMutexLocker guard(&m_lock);
        const auto it = m_entries.constFind(path);
        if (it == m_entries.constEnd() || !(it->identity == identity))
            return nullptr;
        return it->index;
    }

    void store(const QString& path, const platform::FileIdentity& identity,
               std::shared_ptr<const ini::Index> index)
    {
        QMutexLocker guard(&m_lock);
        if (m_entries.size() >= kMaxCachedFiles && !m_entries.contains(path))
            m_entries.clear();
        m_entries.insert(path, {identity, std::move(index)});
    }

    void drop(const QString& path)
    {
        QMutexLocker guard(&m_lock);
        m_entries.remove(path);
    }

private:
    struct Entry
    {
        platform::FileIdentity identity;
        std::shared_ptr<const ini::Index> index;
    };
    QMutex m_lock;
    QHash<QString, Entry> m_entries;
};

ParseCache& cache()
{
    static ParseCache instance;
    return instance;
}

// Times closer than a tick to the start of the read may be shared by a version written right
// after it (same size, same times), which no identity could tell apart: such a read is used
// once and not kept.
bool trustworthy(const platform::FileContent& content)
{
    const qint64 newest = qMax(content.identity.modifiedNs, content.identity.changedNs);
    return newest < content.startedNs - platform::FileTimeTickNs(content.identity);
}

struct Position
{
    qsizetype section = -1;     // header line of the first matching section
    qsizetype key = -1;         // first matching key line in it
    qsizetype lastContent = -1; // last non-blank line of that section
};

Position locate(const ini::Document& doc, QStringView section, QStringView key, bool stopAtKey)
{
    Position p;
    bool inTarget = false;
    QString buffer;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const QStringView text = ini::LineText(doc, i, buffer);
        QStringView name;
        if (ini::SectionName(text, name)) {
            if (inTarget)
                break; // the first matching section wins; later duplicates are not searched
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                inTarget = true;
                p.section = p.lastContent = i;
            }
            continue;
        }
        if (!inTarget || ini::TrimBlanks(text).isEmpty())
            continue;
        p.lastContent = i;
        if (p.key < 0 && ini::SplitKey(text).key.compare(key, Qt::CaseInsensitive) == 0) {
            p.key = i;
            if (stopAtKey)
                break;
        }
    }
    return p;
}

std::optional<QString> lookUp(const ini::Index& index, QStringView section, QStringView key)
{
    const auto s = index.sections.constFind(ini::Fold(section));
    if (s == index.sections.constEnd())
        return std::nullopt;
    const auto k = s->constFind(ini::Fold(key));
    if (k == s->constEnd())
        return std::nullopt;
    return *k;
}

// The value stored under section and key (names trimmed), or nothing when the file, the
// section or the key is missing, or the file is not one to read.
std::optional<QString> storedValue(const QString& path, QStringView section, QStringView key)
{
    const platform::FileStatus status = platform::StatFile(path);
    switch (status.kind) {
    case platform::FileKind::Missing:
        cache().drop(path);
        return std::nullopt;
    case platform::FileKind::Other:
        qCWarning(lcIni) << "not reading" << path << "- not a regular file";
        return std::nullopt;
    case platform::FileKind::Unreadable:
        qCWarning(lcIni) << "cannot look at" << path;
        return std::nullopt;
    case platform::FileKind::Regular:
        break;
    }
    if (const auto cached = cache().find(path, status.identity))
        return lookUp(*cached, section, key);

    platform::FileContent content = platform::ReadRegularFile(path, kMaxFileSize);
    if (content.status != platform::FileReadStatus::Ok) {
        if (content.status != platform::FileReadStatus::Missing)
            qCWarning(lcIni) << "not reading" << path << "-" << describe(content.status);
        cache().drop(path);
        return std::nullopt;
    }
    const bool keep = content.data.size() <= kMaxCachedFileSize && trustworthy(content);
    const ini::Document doc = ini::Parse(std::move(content.data));
    if (!keep) {
        // Read once: finding the one key costs less than indexing the whole file.
        cache().drop(path);
        const Position p = locate(doc, section, key, true);
        if (p.key < 0)
            return std::nullopt;
        QString buffer;
        return ini::SplitKey(ini::LineText(doc, p.key, buffer)).value.toString();
    }
    auto index = std::make_shared<const ini::Index>(ini::BuildIndex(doc));
    cache().store(path, content.identity, index);
    return lookUp(*index, section, key);
}

QString cut(QStringView value, int capacity)
{
    return value.left(qMax(0, capacity - 1)).toString();
}

QString lockKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Threads of this process queue here before the lock file: the cross-process lock is polled,
// so waiting on a mutex is the cheaper way for threads to take turns.
QMutex& processLockFor(const QString& path)
{
    static QMutex tableLock;
    static std::map<QString, std::unique_ptr<QMutex>> table;
    QMutexLocker guard(&tableLock);
    auto& slot = table[lockKey(path)];
    if (!slot)
        slot = std::make_unique<QMutex>();
    return *slot;
}

bool hasLineBreak(const QString& s)
{
    return s.contains(u'\r') || s.contains(u'\n');
}

QByteArray newlineOf(const ini::Document& doc)
{
    for (const ini::Line& l : doc.lines) {
        if (l.next > l.end) {
            const QString terminator = ini::Decode(doc.encoding,
                                                   QByteArrayView(doc.raw).sliced(l.end, l.next - l.end));
            return ini::Encode(doc.encoding, terminator);
        }
    }
    return ini::Encode(doc.encoding, u"\r\n");
}

// Why a write of these names and value could not be read back as written, or null when it can.
const char* unwritable(const QString& section, const QString& key, const QString& value)
{
    if (ini::TrimBlanks(section).isEmpty() || ini::TrimBlanks(key).isEmpty())
        return "empty section or key";
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return "line break in section, key or value";
    if (section.contains(QChar(u'\0')) || key.contains(QChar(u'\0')) || value.contains(QChar(u'\0')))
        return "NUL in section, key or value";
    if (key.contains(u'='))
        return "\"=\" in the key";
    return nullptr;
}

// The new file's bytes, or a null array (with `why` set) when the result would not read back.
QByteArray rewritten(const ini::Document& doc, QStringView section, QStringView key, const QString& value,
                     const char*& why)
{
    if (!ini::CanEncode(doc.encoding, section) || !ini::CanEncode(doc.encoding, key)
        || !ini::CanEncode(doc.encoding, value)) {
        why = "characters the file's encoding cannot hold";
        return {};
    }
    const Position p = locate(doc, section, key, false);
    const QByteArray nl = newlineOf(doc);
    const QByteArray& r = doc.raw;
    QString storedKey = key.toString();
    if (p.key >= 0) {
        QString buffer;
        storedKey = ini::SplitKey(ini::LineText(doc, p.key, buffer)).key.toString(); // keep its letter case
    }
    const QString keyLine = storedKey + u'=' + value;
    QStringView ignored;
    if (ini::SectionName(keyLine, ignored)) {
        why = "the key line would read as a section header";
        return {};
    }

    QByteArray out;
    out.reserve(r.size() + keyLine.size() * 2 + section.size() * 2 + 16);
    if (p.key >= 0) {
        const ini::Line& l = doc.lines[p.key];
        out.append(r.left(l.begin));
        out.append(ini::Encode(doc.encoding, keyLine));
        out.append(r.mid(l.end));
    } else if (p.section >= 0) {
        // The new line goes before the section's trailing blank lines, and before a UTF-16
        // file's odd last byte, which stays where it is.
        const ini::Line& l = doc.lines[p.lastContent];
        out.append(r.left(l.next));
        if (l.next == l.end) // the section's last line ends the file without a line break
            out.append(nl);
        out.append(ini::Encode(doc.encoding, keyLine));
        out.append(nl);
        out.append(r.mid(l.next));
    } else {
        if (doc.oddTail) {
            // Appended after the odd byte, every new character would be read shifted by one.
            why = "appending to a UTF-16 file that ends in half a character";
            return {};
        }
        out.append(r);
        if (!doc.lines.isEmpty() && doc.lines.back().next == doc.lines.back().end)
            out.append(nl);
        // A new file is GBK without a mark, as the Windows functions create it.
        out.append(ini::Encode(doc.encoding, QString(u'[' + section.toString() + u']')));
        out.append(nl);
        out.append(ini::Encode(doc.encoding, keyLine));
        out.append(nl);
    }
    return out;
}

// Whether the file holds the remembered password once this write is done.
bool holdsPassword(const ini::Document& doc, QStringView section, QStringView key, const QString& value)
{
    const QString system = ini::Fold(QString(config::keys::kSystem));
    const QString password = ini::Fold(QString(config::keys::kUwd));
    if (ini::Fold(section) == system && ini::Fold(key) == password)
        return !value.isEmpty();
    return !ini::BuildIndex(doc).sections.value(system).value(password).isEmpty();
}

} // namespace

QString ReadIniString(const QString& file, const QString& section, const QString& key,
                      const QString& defaultValue, int capacity)
{
    const QString path = platform::NativePath(file);
    if (const auto value = storedValue(path, ini::TrimBlanks(section), ini::TrimBlanks(key)))
        return cut(*value, capacity);
    return cut(ini::DefaultValue(defaultValue), capacity);
}

bool WriteIniString(const QString& file, const QString& section, const QString& key, const QString& value)
{
    const QString path = platform::NativePath(file);
    if (const char* why = unwritable(section, key, value)) {
        qCWarning(lcIni) << "refused write of" << section << key << "to" << path << "-" << why;
        return false;
    }
    // Checked before the lock file is made: a device or FIFO gets no lock file beside it.
    const platform::FileKind kind = platform::StatFile(path).kind;
    if (kind != platform::FileKind::Regular && kind != platform::FileKind::Missing) {
        qCWarning(lcIni) << "refused write to" << path << "- not a regular file";
        return false;
    }

    QMutexLocker guard(&processLockFor(path));
    // Every writer, in any process, takes the lock on the same sibling file around its
    // read-modify-rename, so none rewrites the file from a copy older than another's write.
    platform::FileLock lock(path + QStringLiteral(".lock"));
    if (!lock.Acquire(kLockTimeoutMs)) {
        qCWarning(lcIni) << "cannot lock" << path << "-" << lock.ErrorString();
        return false;
    }

    platform::FileContent content = platform::ReadRegularFile(path, kMaxFileSize);
    const bool created = content.status == platform::FileReadStatus::Missing;
    if (content.status != platform::FileReadStatus::Ok && !created) {
        qCWarning(lcIni) << "refused write to" << path << "-" << describe(content.status);
        return false;
    }
    const ini::Document doc = ini::Parse(std::move(content.data));
    const char* why = nullptr;
    const QByteArray out = rewritten(doc, ini::TrimBlanks(section), ini::TrimBlanks(key), value, why);
    if (out.isNull()) {
        qCWarning(lcIni) << "refused write of" << section << key << "to" << path << "-" << why;
        return false;
    }

    QSaveFile target(path);
    target.setDirectWriteFallback(false);
    if (!target.open(QIODevice::WriteOnly)) {
        qCWarning(lcIni) << "cannot write" << path << "-" << target.errorString();
        return false;
    }
    // The settings file holds the remembered password: a new one is the user's alone, and so
    // is any file with the password in it, whoever made it with whatever mode. Another
    // existing file keeps its mode (the save file copies it).
    const bool secret = holdsPassword(doc, ini::TrimBlanks(section), ini::TrimBlanks(key), value);
    if ((created || secret) && !target.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcIni) << "cannot make" << path << "owner-only";
        target.cancelWriting();
        return false;
    }
    if (target.write(out) != out.size() || !target.commit()) {
        qCWarning(lcIni) << "cannot write" << path << "-" << target.errorString();
        target.cancelWriting();
        return false;
    }
    cache().drop(path);
    return true;
}
