// Unpacks the same resource-pack-like archive with UnzipArchiveToFolder (through unzip_cli),
// Info-ZIP unzip and bsdtar, several rounds each into fresh folders on the same disk, taking
// turns, and prints median wall and CPU times with their ratios to unzip and to bsdtar, the
// spread of wall times, and peak resident memory.
//
// usage: unzip_bench [rounds]   (the archive is generated once into the build folder)
//
// Output folders are all kept until the end: on ext4 without a journal, creating files right
// after deleting thousands makes the kernel step over every recently freed inode, which
// would measure the file system's bookkeeping instead of the extraction.
// UNZIP_BENCH_DIR puts the output folders elsewhere (for instance a tmpfs, to see CPU costs).
#include "packgenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

struct Tool
{
    QString name;
    QStringList command; // archive and folder are filled in
    QList<double> seconds;
    QList<double> cpuSeconds; // user + system
    qint64 peakKb = 0;
};

PackSummary Count(const QString& root)
{
    PackSummary s;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++s.files;
        s.bytes += it.fileInfo().size();
    }
    return s;
}

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs one extraction under /usr/bin/time; false when the tool failed.
bool RunOnce(Tool& tool, const QString& archive, const QString& folder, const QString& scratch)
{
    QDir().mkpath(folder);
    QProcess::execute(QStringLiteral("sync"), {});
    QStringList args{QStringLiteral("-f"), QStringLiteral("%U %S %M"), QStringLiteral("-o"), scratch};
    for (const QString& part : tool.command)
        args << QString(part)
                    .replace(QStringLiteral("{archive}"), archive)
                    .replace(QStringLiteral("{folder}"), folder);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/time"), args);
    process.waitForFinished(-1);
    tool.seconds << timer.nsecsElapsed() / 1e9;
    QFile rss(scratch);
    if (rss.open(QIODevice::ReadOnly)) {
        const QStringList fields =
            QString::fromLatin1(rss.readAll()).trimmed().split(u'\n').last().split(u' ');
        if (fields.size() == 3) {
            tool.cpuSeconds << fields[0].toDouble() + fields[1].toDouble();
            tool.peakKb = qMax(tool.peakKb, fields[2].toLongLong());
        }
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    const QString cache = QStringLiteral(UNZIP_BENCH_CACHE);
    QDir().mkpath(cache);
    const QString archive = cache + QStringLiteral("/pack.zip");

    if (!QFileInfo::exists(archive)) {
        out << "generating " << archive << " ..." << Qt::endl;
        PackSummary made;
        if (!GeneratePack(archive, made)) {
            out << "cannot write the archive" << Qt::endl;
            return 1;
        }
    }

    QList<Tool> tools{
        {QStringLiteral("UnzipArchiveToFolder"),
         {QStringLiteral(UNZIP_BENCH_CLI), QStringLiteral("{archive}"), QStringLiteral("{folder}")},
         {},
         {},
         0},
        {QStringLiteral("unzip -o -q"),
         {QStringLiteral("unzip"), QStringLiteral("-o"), QStringLiteral("-q"), QStringLiteral("{archive}"),
          QStringLiteral("-d"), QStringLiteral("{folder}")},
         {},
         {},
         0},
        {QStringLiteral("bsdtar -xf"),
         {QStringLiteral("bsdtar"), QStringLiteral("-xf"), QStringLiteral("{archive}"), QStringLiteral("-C"),
          QStringLiteral("{folder}")},
         {},
         {},
         0},
    };
    const QString scratch = cache + QStringLiteral("/rss.txt");
    // Warm the page cache so that no tool pays for the first read of the archive.
    {
        QFile f(archive);
        if (f.open(QIODevice::ReadOnly))
            while (!f.read(1 << 20).isEmpty()) { }
    }
    const QString outputs = qEnvironmentVariableIsEmpty("UNZIP_BENCH_DIR")
        ? cache + QStringLiteral("/runs")
        : qEnvironmentVariable("UNZIP_BENCH_DIR") + QStringLiteral("/unzip_bench_runs");
    QDir(outputs).removeRecursively();
    for (int round = 0; round < rounds; ++round) {
        for (Tool& tool : tools) {
            const QString folder = outputs + QStringLiteral("/%1-%2").arg(&tool - tools.data()).arg(round);
            if (!RunOnce(tool, archive, folder, scratch)) {
                out << tool.name << " failed" << Qt::endl;
                return 1;
            }
            if (round == 0) {
                const PackSummary s = Count(folder);
                out << tool.name << ": " << s.files << " files, " << s.bytes / 1e6 << " MB" << Qt::endl;
            }
        }
    }
    QDir(outputs).removeRecursively();
    QFile::remove(scratch);

    // Wall time is what the user waits for; CPU time (user + system) is steadier on a busy machine.
    // The spread (fastest and slowest round) shows how much other work on the machine interfered.
    const double unzipWall = Median(tools[1].seconds);
    const double unzipCpu = Median(tools[1].cpuSeconds);
    const double bsdtarWall = Median(tools[2].seconds);
    const double bsdtarCpu = Median(tools[2].cpuSeconds);
    out << Qt::endl
        << "archive " << QFileInfo(archive).size() / 1e6 << " MB, " << rounds << " rounds" << Qt::endl;
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
               .arg(QStringLiteral("tool"), -22)
               .arg(QStringLiteral("wall s"), 7)
               .arg(QStringLiteral("min-max"), 12)
               .arg(QStringLiteral("/unzip"), 7)
               .arg(QStringLiteral("/bsdtar"), 7)
               .arg(QStringLiteral("cpu s"), 7)
               .arg(QStringLiteral("/unzip"), 7)
               .arg(QStringLiteral("/bsdtar"), 7)
               .arg(QStringLiteral("peak RSS MB"), 12);
    for (const Tool& tool : tools) {
        const double wall = Median(tool.seconds);
        const double cpu = Median(tool.cpuSeconds);
        const auto [fastest, slowest] = std::minmax_element(tool.seconds.begin(), tool.seconds.end());
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9\n")
                   .arg(tool.name, -22)
                   .arg(wall, 7, 'f', 3)
                   .arg(QStringLiteral("%1-%2").arg(*fastest, 0, 'f', 2).arg(*slowest, 0, 'f', 2), 12)
                   .arg(wall / unzipWall, 7, 'f', 2)
                   .arg(wall / bsdtarWall, 7, 'f', 2)
                   .arg(cpu, 7, 'f', 3)
                   .arg(cpu / unzipCpu, 7, 'f', 2)
                   .arg(cpu / bsdtarCpu, 7, 'f', 2)
                   .arg(tool.peakKb / 1024.0, 12, 'f', 1);
    }
    const double ratio = Median(tools[0].seconds) / bsdtarWall;
    const double peakMb = tools[0].peakKb / 1024.0;
    out << QStringLiteral("goal: wall <= 0.80x bsdtar (%1x, %2), peak RSS < 20 MB (%3 MB, %4)\n")
               .arg(ratio, 0, 'f', 2)
               .arg(ratio <= 0.8 ? QStringLiteral("met") : QStringLiteral("missed"))
               .arg(peakMb, 0, 'f', 1)
               .arg(peakMb < 20 ? QStringLiteral("met") : QStringLiteral("missed"));
    return 0;
}
