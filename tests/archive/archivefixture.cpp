#include "archivefixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>

bool ArchiveScratchTest::ResetScratch()
{
    m_archive = Scratch(u"in/pack.zip"_qs);
    m_dest = Scratch(u"out/dest"_qs);
    return m_tmp.isValid() && QDir(m_tmp.path()).removeRecursively() && QDir().mkpath(Scratch(u"in"_qs))
        && QDir().mkpath(Scratch(u"out"_qs));
}

QStringList Tree(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString mark;
        if (info.isSymLink())
            mark = u"@"_qs;
        else if (info.isDir())
            mark = u"/"_qs;
        out << QDir(root).relativeFilePath(path) + mark;
    }
    out.sort();
    return out;
}

QByteArray Compressible(int size)
{
    QByteArray out;
    while (out.size() < size)
        out += "resource line " + QByteArray::number(out.size()) + "\n";
    return out.left(size);
}

std::unique_ptr<ZipReader> OpenReader(const QString& archive, const QString& base)
{
    std::unique_ptr<ZipReader> reader = ZipReader::Open(archive);
    if (reader)
        reader->SetBaseFolder(base);
    return reader;
}

void PutLe32(char* at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = char((value >> (8 * i)) & 0xFF);
}

quint32 GetLe32(const char* at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(uchar(at[i])) << (8 * i);
    return value;
}

bool EditFileBytes(const QString& path, const std::function<bool(QByteArray&)>& edit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    return edit(bytes) && file.seek(0) && file.write(bytes) == bytes.size();
}

bool AppendArchiveComment(const QString& path, const QByteArray& comment)
{
    return EditFileBytes(path, [&](QByteArray& bytes) {
        if (comment.size() > 0xFFFF || bytes.size() < 22 || !bytes.endsWith(QByteArray(2, '\0')))
            return false;
        bytes[bytes.size() - 2] = char(comment.size() & 0xFF);
        bytes[bytes.size() - 1] = char(comment.size() >> 8);
        bytes += comment;
        return true;
    });
}

bool EditCentralHeaders(const QString& path, const std::function<void(int, char*)>& edit)
{
    return EditFileBytes(path, [&](QByteArray& bytes) {
        const qsizetype end = bytes.lastIndexOf("PK\x05\x06");
        if (end < 0)
            return false;
        qsizetype at = qsizetype(GetLe32(bytes.constData() + end + 16));
        for (int index = 0; at + 46 <= end && bytes.mid(at, 4) == "PK\x01\x02"; ++index) {
            const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
            const qsizetype size = 46 + (p[28] | (p[29] << 8)) + (p[30] | (p[31] << 8))
                + (p[32] | (p[33] << 8));
            edit(index, bytes.data() + at);
            at += size;
        }
        return true;
    });
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    rlimit old{};
    if (getrlimit(RLIMIT_FSIZE, &old) != 0)
        return;
    m_oldSoft = old.rlim_cur;
    m_oldHard = old.rlim_max;
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = rlim_t(bytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active) {
        rlimit old{};
        old.rlim_cur = rlim_t(m_oldSoft);
        old.rlim_max = rlim_t(m_oldHard);
        setrlimit(RLIMIT_FSIZE, &old);
    }
    std::signal(SIGXFSZ, m_oldHandler ? m_oldHandler : SIG_DFL);
}
