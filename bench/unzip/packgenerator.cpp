#include "packgenerator.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <minizip/zip.h>

namespace {

class Random
{
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }
    quint64 Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    int Between(int low, int high) { return low + int(Next() % quint64(high - low + 1)); }

private:
    quint64 m_state;
};

QByteArray TextLike(Random& random, int size)
{
    static const char* const words[] = {"skin",  "mark", "weapon", "texture", "0x7f", "alpha", "sprite",
                                        "frame", "=",    ";",      "\n",      "rez",  "ui"};
    QByteArray out;
    out.reserve(size + 16);
    while (out.size() < size) {
        out += words[random.Next() % 13];
        out += char('a' + random.Next() % 26);
        out += ' ';
    }
    out.truncate(size);
    return out;
}

QByteArray Noise(Random& random, int size, int alphabetBits)
{
    QByteArray out(size, Qt::Uninitialized);
    const quint64 mask = (1u << alphabetBits) - 1;
    for (int i = 0; i < size; ++i)
        out[i] = char(random.Next() & mask);
    return out;
}

bool AddEntry(zipFile zip, const QByteArray& name, const QByteArray& data, bool store, PackSummary& summary)
{
    zip_fileinfo info{};
    info.dosDate = 0x5A8A6000;
    info.external_fa = name.endsWith('/') ? 0x10 : 0x20;
    const int method = store ? 0 : Z_DEFLATED;
    bool ok = zipOpenNewFileInZip64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                    store ? 0 : 6, 0)
        == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, data.constData(), unsigned(data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    if (!name.endsWith('/')) {
        ++summary.files;
        summary.bytes += data.size();
    }
    return ok;
}

} // namespace

bool GeneratePack(const QString& path, PackSummary& summary)
{
    const QString partial = path + QStringLiteral(".part");
    zipFile zip = zipOpen64(QFile::encodeName(partial).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    Random random(0x9E3779B97F4A7C15ULL);
    bool ok = true;
    for (int folder = 0; folder < 40 && ok; ++folder) {
        const QByteArray dir = "rez/UI/pack" + QByteArray::number(folder / 8) + "/set"
            + QByteArray::number(folder) + "/";
        if (folder % 8 == 0)
            ok = AddEntry(zip, dir.left(dir.indexOf("/set") + 1), {}, true, summary);
        ok = ok && AddEntry(zip, dir, {}, true, summary);
        for (int i = 0; i < 38 && ok; ++i) // configuration and scripts
            ok = AddEntry(zip, dir + "cfg" + QByteArray::number(i) + ".txt",
                          TextLike(random, random.Between(1000, 40000)), false, summary);
        for (int i = 0; i < 12 && ok; ++i) // already compressed images
            ok = AddEntry(zip, dir + "img" + QByteArray::number(i) + ".png",
                          Noise(random, random.Between(20000, 150000), 8), true, summary);
    }
    for (int i = 0; i < 6 && ok; ++i) // a few large data files, half compressible
        ok = AddEntry(zip, "rez/data" + QByteArray::number(i) + ".rez",
                      Noise(random, random.Between(11, 15) << 20, 4), false, summary);
    ok = zipClose(zip, nullptr) == ZIP_OK && ok;
    if (!ok)
        return false;
    QFile::remove(path);
    return QFile::rename(partial, path);
}
