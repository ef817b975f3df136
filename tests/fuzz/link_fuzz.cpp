// Fuzz target: links of the program's URL scheme through ParseLink, and the install job the
// link intake makes of an accepted one (the dialog that runs the job needs a display). The
// input is the link as UTF-8, or as raw UTF-16 when it starts with a 0xFF byte. Checked: an
// accepted link gives a kind of 1, 2 or 3, an address that ends like its file name, and a file
// name that stays inside the Downloads folder it is saved to; a rejected one says why.
#include "app/linkintake.h"
#include "fuzzcommon.h"
#include "installdlg/installjob.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString link = bytes.startsWith('\xff')
        ? QString(reinterpret_cast<const QChar*>(bytes.constData() + 1), (bytes.size() - 1) / 2)
        : QString::fromUtf8(bytes);

    ParsedLink parsed;
    const LinkCheck check = ParseLink(link, parsed);
    if (check != LinkCheck::Ok)
        return 0;
    installdlg::InstallJob job;
    job.downloadUrl = parsed.address;
    job.fileName = parsed.fileName;
    job.programDir = QStringLiteral("/opt/yfzs/");

    if (parsed.type != u"1" && parsed.type != u"2" && parsed.type != u"3")
        fuzz::Fail("an accepted link of an unknown kind", link);
    // Both end at the last "&"; a link so short that its last "/" lies in the scheme's eleven
    // characters gives a shorter address (and a download that fails with its message).
    if (!job.downloadUrl.endsWith(job.fileName) && !job.fileName.endsWith(job.downloadUrl))
        fuzz::Fail("an accepted link whose address and file name do not end alike", link);
    const QString downloads = job.programDir + QStringLiteral("Downloads");
    const QString target = QDir::cleanPath(downloads + u'/' + job.fileName);
    if (!target.startsWith(downloads + u'/') || target.mid(downloads.size() + 1).contains(u'/')
        || job.fileName.contains(u'\\') || job.fileName.startsWith(u'.') || !job.fileName.contains(u'.'))
        fuzz::Fail("an accepted link names a file outside the Downloads folder", link);
    return 0;
}

QList<QByteArray> FuzzSeeds()
{
    return {"VEDERU77://127.0.0.1:8088/packs/skin.zip&1",
            "vederu77://example.com/a/b/%E7%9A%AE%E8%82%A4.zip&3",
            QStringLiteral("VEDERU77://主机/资源/包.zip&2").toUtf8(),
            "VEDERU77://h/../..&1",
            "VEDERU77://h/.hidden.zip&2",
            "VEDERU77://h/x.zip&9",
            "VEDERU77:/&",
            "\xff" + QByteArray(reinterpret_cast<const char*>(u"V/a.z&1\xd800"), 16)};
}
