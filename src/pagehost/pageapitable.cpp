#include "pagehost/pageapitable.h"

#include "pagehost/htmlctrl.h"

namespace pagehost {

namespace {

using T = PageType;
using Args = std::array<PageValue, 4>;

int intAt(const Args& a, int n)
{
    return std::get<int>(a[n]);
}

const QString& textAt(const Args& a, int n)
{
    return std::get<QString>(a[n]);
}

constexpr std::array<PageType, 0> kNone{};
constexpr std::array kIntInt{T::Int, T::Int};
constexpr std::array kInt4{T::Int, T::Int, T::Int, T::Int};
constexpr std::array kStr{T::String};
constexpr std::array kStr2{T::String, T::String};
constexpr std::array kStr3{T::String, T::String, T::String};
constexpr std::array kStr4{T::String, T::String, T::String, T::String};
constexpr std::array kStrStrIntInt{T::String, T::String, T::Int, T::Int};
constexpr std::array kIntStrStr{T::Int, T::String, T::String};
constexpr std::array kObject{T::Object};

PageValue noValue()
{
    return std::monostate();
}

// The identifier of each entry is its position: the order is part of the interface.
const PageMethod kMethods[] = {
    {u"GetVersion", kNone, T::Int, [](CHtmlCtrl& c, const Args&) -> PageValue { return c.GetVersion(); }},
    {u"MoveWindow", kNone, T::None,
     [](CHtmlCtrl& c, const Args&) {
         c.MoveWindow();
         return noValue();
     }},
    {u"GetMainWindow", kNone, T::Int,
     [](CHtmlCtrl& c, const Args&) -> PageValue { return c.GetMainWindow(); }},
    {u"SendMessage", kInt4, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue {
         return c.SendMessage(intAt(a, 0), intAt(a, 1), intAt(a, 2), intAt(a, 3));
     }},
    {u"ShowPageWindow", kNone, T::None,
     [](CHtmlCtrl& c, const Args&) {
         c.ShowPageWindow();
         return noValue();
     }},
    {u"GetParentWindow", kNone, T::Int,
     [](CHtmlCtrl& c, const Args&) -> PageValue { return c.GetParentWindow(); }},
    {u"ShowWindow", kIntInt, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.ShowWindow(intAt(a, 0), intAt(a, 1)); }},
    {u"MaxOrNormalWindow", kNone, T::None,
     [](CHtmlCtrl& c, const Args&) {
         c.MaxOrNormalWindow();
         return noValue();
     }},
    {u"DownloadFile", kStrStrIntInt, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue {
         return c.DownloadFile(textAt(a, 0), textAt(a, 1), intAt(a, 2), intAt(a, 3));
     }},
    {u"PauseDownload", kIntInt, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.PauseDownload(intAt(a, 0), intAt(a, 1)); }},
    {u"SetCallBack", kObject, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.SetCallBack(std::get<PageObject>(a[0])); }},
    {u"GetAppPath", kNone, T::String, [](CHtmlCtrl& c, const Args&) -> PageValue { return c.GetAppPath(); }},
    {u"RunExe", kStr, T::Bool,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.RunExe(textAt(a, 0)); }},
    {u"FindCF", kNone, T::Bool, [](CHtmlCtrl& c, const Args&) -> PageValue { return c.FindCF(); }},
    {u"FindTYF", kNone, T::Bool, [](CHtmlCtrl& c, const Args&) -> PageValue { return c.FindTYF(); }},
    {u"GetConfigString", kStr3, T::String,
     [](CHtmlCtrl& c, const Args& a) -> PageValue {
         return c.GetConfigString(textAt(a, 0), textAt(a, 1), textAt(a, 2));
     }},
    {u"SetConfigString", kStr4, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue {
         return c.SetConfigString(textAt(a, 0), textAt(a, 1), textAt(a, 2), textAt(a, 3));
     }},
    {u"UnzipFile", kStr2, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.UnzipFile(textAt(a, 0), textAt(a, 1)); }},
    {u"DeleteFile", kStr, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.DeleteFile(textAt(a, 0)); }},
    {u"CopyFile", kStr2, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.CopyFile(textAt(a, 0), textAt(a, 1)); }},
    {u"MoveFile", kStr2, T::Int,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.MoveFile(textAt(a, 0), textAt(a, 1)); }},
    {u"GetRegString", kIntStrStr, T::String,
     [](CHtmlCtrl& c, const Args& a) -> PageValue {
         return c.GetRegString(intAt(a, 0), textAt(a, 1), textAt(a, 2));
     }},
    {u"GetFilePath", kStr, T::String,
     [](CHtmlCtrl& c, const Args& a) -> PageValue { return c.GetFilePath(textAt(a, 0)); }},
};

static_assert(std::size(kMethods) == 23);

} // namespace

std::span<const PageMethod> PageMethods()
{
    return kMethods;
}

int PageMethodId(QStringView name)
{
    for (size_t i = 0; i < std::size(kMethods); ++i) {
        if (name.compare(QStringView(kMethods[i].name), Qt::CaseInsensitive) == 0)
            return int(i) + 1;
    }
    return 0;
}

QStringList PageMethodNames()
{
    QStringList names;
    for (const PageMethod& m : kMethods)
        names.append(QString::fromUtf16(m.name));
    return names;
}

} // namespace pagehost
