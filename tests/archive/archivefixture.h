#pragma once
// What the archive tests share: scratch folders for an archive and its destination, a picture of
// a folder tree, data that compresses, and edits of the bytes of an archive that minizip's writer
// would not make.

#include "archive/zipreader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A test class whose every test starts from an empty scratch folder holding in/ for the archive
// (m_archive, not yet written) and out/ for where it is unpacked (m_dest, not yet made).
class ArchiveScratchTest : public QObject
{
protected:
    bool ResetScratch();
    QString Scratch(const QString& relative) const { return m_tmp.path() + u'/' + relative; }

    QTemporaryDir m_tmp;
    QString m_archive;
    QString m_dest;
};

// Every path below `root`, relative, sorted; folders end with '/', links with '@'.
QStringList Tree(const QString& root);

QByteArray Compressible(int size);

// The reader of `archive`, writing below `base`; null when the archive cannot be opened.
std::unique_ptr<ZipReader> OpenReader(const QString& archive, const QString& base);

// Reads the file at `path`, lets `edit` change the bytes and writes them back unless it says no.
bool EditFileBytes(const QString& path, const std::function<bool(QByteArray&)>& edit);

// Gives the archive at `path` (written without a comment) a comment of `comment`.
bool AppendArchiveComment(const QString& path, const QByteArray& comment);

// Calls `edit` with the bytes of every central header in turn (index, header from its
// signature on) and writes the archive back.
bool EditCentralHeaders(const QString& path, const std::function<void(int, char*)>& edit);

// A real write error without a small file system: while one of these lives, the process may
// not make any file longer than the limit, and writes beyond it fail (EFBIG) instead of
// raising the signal that would end the test.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool IsActive() const { return m_active; }

private:
    bool m_active = false;
    quint64 m_oldSoft = 0;
    quint64 m_oldHard = 0;
    void (*m_oldHandler)(int) = nullptr;
};

void PutLe32(char* at, quint32 value);
quint32 GetLe32(const char* at);
