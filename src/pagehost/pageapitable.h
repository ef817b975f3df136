#pragma once
// The page API's dispatch table: 23 methods in a fixed order. A method's identifier is its
// 1-based position; names match regardless of letter case; each entry states its parameter
// types, its result type and the operation it runs on the page API object (the browser view).

#include "pagehost/pagevalue.h"

#include <QStringList>

#include <array>
#include <span>

class CHtmlCtrl;

namespace pagehost {

struct PageMethod
{
    const char16_t* name;
    std::span<const PageType> params;
    PageType result;
    PageValue (*run)(CHtmlCtrl& api, const std::array<PageValue, 4>& args);
};

std::span<const PageMethod> PageMethods();

// 1-based identifier of the method called `name` (any letter case), 0 for an unknown name.
int PageMethodId(QStringView name);

// Method names in table order, as the bridge script learns them.
QStringList PageMethodNames();

} // namespace pagehost
