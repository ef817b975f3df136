#include "fuzzcommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

QList<QByteArray> Split(const uint8_t* data, size_t size, int parts)
{
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QByteArray> out;
    qsizetype from = 0;
    for (int i = 0; i < parts - 1; ++i) {
        const qsizetype at = from <= all.size() ? all.indexOf(kSplit, from) : -1;
        if (at < 0) {
            out.append(from <= all.size() ? all.mid(from) : QByteArray());
            from = all.size() + 1;
            continue;
        }
        out.append(all.mid(from, at - from));
        from = at + qsizetype(sizeof kSplit - 1);
    }
    out.append(from <= all.size() ? all.mid(from) : QByteArray());
    return out;
}

QByteArray Join(const QList<QByteArray>& parts)
{
    return parts.join(QByteArrayView(kSplit));
}

QString Sandbox()
{
    // Never destroyed: the exit handler that removes the folder runs after static destructors.
    static const QString* const dir = [] {
        const QString base = qEnvironmentVariableIsEmpty("YFZS_FUZZ_TMP")
            ? QStringLiteral("/dev/shm")
            : qEnvironmentVariable("YFZS_FUZZ_TMP");
        auto* path = new QString(base + QStringLiteral("/yfzs_fuzz_") + QString::number(::getpid()));
        QDir(*path).removeRecursively();
        QDir().mkpath(*path);
        std::atexit([] { QDir(Sandbox()).removeRecursively(); });
        return path;
    }();
    return *dir;
}

void WriteFile(const QString& path, QByteArrayView bytes)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes.data(), bytes.size()) != bytes.size())
        Fail("cannot write a scratch file", path);
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "\n*** invariant broken: %s\n%s\n", what, qPrintable(detail));
    std::abort();
}

} // namespace fuzz

namespace {

// The code under test logs its refusals; thousands of them a second would drown the fuzzer's
// own output, so only fatal messages get through unless YFZS_FUZZ_VERBOSE is set.
void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (qEnvironmentVariableIsEmpty("YFZS_FUZZ_VERBOSE"))
        qInstallMessageHandler(quietHandler);
    const QString seeds = qEnvironmentVariable("YFZS_FUZZ_SEEDS");
    if (!seeds.isEmpty()) {
        QDir().mkpath(seeds);
        int n = 0;
        for (const QByteArray& seed : FuzzSeeds())
            fuzz::WriteFile(seeds + QStringLiteral("/seed%1").arg(n++, 2, 10, QLatin1Char('0')), seed);
        std::exit(0);
    }
    return 0;
}
