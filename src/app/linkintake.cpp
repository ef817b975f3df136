#include "app/linkintake.h"

#include "app/application.h"
#include "installdlg/installjob.h"
#include "platform/nativepaths.h"
#include "platform/urlscheme.h"
#include "widgets/messagebox.h"

namespace {
constexpr qsizetype kSchemeLength = 11; // "VEDERU77://"
}

LinkCheck ParseLink(const QString& link, ParsedLink& out)
{
    const qsizetype amp = link.lastIndexOf(u'&');
    const qsizetype slash = link.lastIndexOf(u'/');
    // Clamped substrings: a negative start counts as 0, a negative count as 0.
    auto cut = [&link](qsizetype from, qsizetype to) {
        from = qMax<qsizetype>(from, 0);
        return link.mid(from, qMax<qsizetype>(to - from, 0));
    };
    out.address = cut(kSchemeLength, amp);
    out.fileName = cut(slash + 1, amp);
    out.type = link.isEmpty() ? QString() : link.right(1);

    const qsizetype dot = out.fileName.indexOf(u'.');
    const bool unsafeName = out.fileName.contains(u'\\') || out.fileName.contains(QStringLiteral(".."));
    if (amp <= 0 || slash <= 0 || out.type.isEmpty() || out.fileName.isEmpty() || dot <= 0 || unsafeName)
        return LinkCheck::Malformed;
    if (out.type != u"1" && out.type != u"2" && out.type != u"3")
        return LinkCheck::UnknownType;
    return LinkCheck::Ok;
}

void RegisterUrlProtocol()
{
    platform::RegisterUrlScheme(QStringLiteral("vederu77"), platform::ExecutablePath(),
                                QString::fromUtf16(kMainWindowTitle));
}

bool HandleLink(const QString& link, QWidget* owner)
{
    ParsedLink parsed;
    switch (ParseLink(link, parsed)) {
    case LinkCheck::Malformed:
        widgets::msgbox::Show(QStringLiteral("参数错误"), widgets::msgbox::OkOnly, owner);
        return false;
    case LinkCheck::UnknownType:
        widgets::msgbox::Show(QStringLiteral("参数错误2"), widgets::msgbox::OkOnly, owner);
        return false;
    case LinkCheck::Ok:
        break;
    }

    installdlg::InstallJob pack;
    pack.downloadUrl = parsed.address;
    pack.fileName = parsed.fileName;
    pack.resourceType = installdlg::PackKindFromText(parsed.type);
    return installdlg::RunInstallJob(pack, owner);
}
