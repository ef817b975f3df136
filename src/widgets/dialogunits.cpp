#include "dialogunits.h"

#include <QPolygon>

#include <cmath>

namespace DialogUnits {

QRect ToPixels(int x, int y, int width, int height)
{
    auto across = [](int units) { return int(std::lround(units * 1.5)); };
    auto down = [](int units) { return int(std::lround(units * 1.625)); };
    return QRect(across(x), down(y), across(width), down(height));
}

QRegion CutCornerRegion(const QRect& rect)
{
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.left() + rect.width();
    const int b = rect.top() + rect.height();
    const QPolygon outline({{l, t + 3}, {l + 3, t}, {r - 3, t}, {r, t + 3},
                            {r, b - 4}, {r - 4, b}, {l + 3, b}, {l, b - 4}});
    return QRegion(outline);
}

} // namespace DialogUnits
