// Reads and writes of single keys on a config.ini of 50 and of 5,000 keys, the way every
// setting is read at the moment it is needed: of an unchanged file (the usual case), and right
// after another program changed it in place (every byte parsed again). Prints reads and writes
// per second; bench/ini/run adds the goals and ratios.

#include "config/inifile.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString makeFile(const QTemporaryDir& dir, int keys)
{
    const QString path = dir.filePath(QStringLiteral("config%1.ini").arg(keys));
    if (QFile::exists(path))
        return path;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    const int sections = qMax(1, keys / 25);
    for (int s = 0; s < sections; ++s) {
        f.write(QStringLiteral("[section%1]\r\n").arg(s).toLatin1());
        for (int k = 0; k < keys / sections; ++k)
            f.write(QStringLiteral("key%1=value %2 with some text\r\n").arg(k).arg(s * 1000 + k).toLatin1());
    }
    return path;
}

QTemporaryDir& dir()
{
    static QTemporaryDir d;
    return d;
}

void readKey(benchmark::State& state)
{
    const int keys = int(state.range(0));
    const QString path = makeFile(dir(), keys);
    // A key in the last section: the whole file is walked.
    const QString section = QStringLiteral("section%1").arg(qMax(1, keys / 25) - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadIniString(path, section, QStringLiteral("key20"), QString(), 260));
    state.SetItemsProcessed(state.iterations());
}

void readAfterEdit(benchmark::State& state)
{
    const int keys = int(state.range(0));
    const QString path = makeFile(dir(), keys);
    const QString section = QStringLiteral("section%1").arg(qMax(1, keys / 25) - 1);
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    const qint64 valueAt = f.readAll().indexOf("value ");
    char digit = '0';
    for (auto _ : state) {
        state.PauseTiming();
        digit = digit == '9' ? '0' : char(digit + 1);
        f.seek(valueAt);
        f.write(QByteArray("valu") + digit); // same size, same inode
        f.flush();
        state.ResumeTiming();
        benchmark::DoNotOptimize(ReadIniString(path, section, QStringLiteral("key20"), QString(), 260));
    }
    state.SetItemsProcessed(state.iterations());
}

void writeKey(benchmark::State& state)
{
    const int keys = int(state.range(0));
    const QString path = makeFile(dir(), keys);
    const QString section = QStringLiteral("section%1").arg(qMax(1, keys / 25) / 2);
    int i = 0;
    for (auto _ : state)
        WriteIniString(path, section, QStringLiteral("key3"), QString::number(++i));
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(readKey)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(readAfterEdit)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(writeKey)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
