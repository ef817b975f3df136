#include "linkintake.h"

#include "application.h"
#include "installjob.h"
#include "messagebox.h"
#include "paths.h"
#include "urlscheme.h"

#include <optional>

namespace {
constexpr qsizetype kSchemeLength = 11; // "VEDERU77://"

// The link's last character names the pack kind; past the link, only the kind travels.
std::optional<installdlg::PackKind> packKind(const QString& type)
{
    if (type == u"1")
        return installdlg::PackKind::UiMark;
    if (type == u"2")
        return installdlg::PackKind::Ui;
    if (type == u"3")
        return installdlg::PackKind::Rez;
    return std::nullopt;
}
} // namespace

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
    if (!packKind(out.type))
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
    pack.resourceType = *packKind(parsed.type); // ParseLink accepted it
    return installdlg::RunInstallJob(pack, owner);
}
