// A second process for the settings store's tests: another program writing or editing the
// same file while the test program does.
//
//   ini_peer write <file> <prefix> <count>   writes [s] <prefix>0..<count-1> = 0..count-1;
//                                            exit code 0 only when every write said true
//   ini_peer edit                            per stdin line "<file>\t<offset>\t<text>\t<keep>":
//                                            overwrites the bytes at offset in place (same size,
//                                            same inode); keep=1 puts the modification time back;
//                                            answers "done" or "failed"

#include "config/inifile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace {

int writeKeys(const QString& file, const QString& prefix, int count)
{
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!WriteIniString(file, u"s"_qs, prefix + QString::number(i), QString::number(i)))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

bool editInPlace(const QStringList& fields)
{
    if (fields.size() != 4)
        return false;
    QFile f(fields[0]);
    const QDateTime modified = QFile(fields[0]).fileTime(QFileDevice::FileModificationTime);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(fields[1].toLongLong()))
        return false;
    const QByteArray bytes = fields[2].toUtf8();
    if (f.write(bytes) != bytes.size() || !f.flush())
        return false;
    return fields[3] != u"1"_qs || f.setFileTime(modified, QFileDevice::FileModificationTime);
}

int serveEdits()
{
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        const QStringList fields = QString::fromUtf8(line).chopped(1).split(u'\t');
        std::fputs(editInPlace(fields) ? "done\n" : "failed\n", stdout);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"write"_qs)
        return writeKeys(args[2], args[3], args[4].toInt());
    if (args.size() == 2 && args[1] == u"edit"_qs)
        return serveEdits();
    std::fputs("usage: ini_peer write <file> <prefix> <count> | ini_peer edit\n", stderr);
    return 2;
}
