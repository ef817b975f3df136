#include "widgets/dialogunits.h"

#include <cmath>

namespace widgets::units {

QRect ToPixels(const Scale& scale, const QRect& units)
{
    auto pixels = [](int count, double size) { return int(std::lround(count * size)); };
    return QRect(pixels(units.x(), scale.across), pixels(units.y(), scale.down),
                 pixels(units.width(), scale.across), pixels(units.height(), scale.down));
}

} // namespace widgets::units
