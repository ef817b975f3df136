#pragma once
// Placing controls as their Windows dialog templates lay them out. A template measures in
// dialog units of its font; how many pixels a unit is across and down on the reference system
// is the template's scale.

#include <QRect>

namespace widgets::units {

struct Scale
{
    double across;
    double down;
};

// The 8-point dialog font of the settings and about templates.
inline constexpr Scale kDialogFont{1.5, 1.625};

// `units` (x, y, width, height in dialog units) in pixels, each rounded to the nearest.
QRect ToPixels(const Scale& scale, const QRect& units);

} // namespace widgets::units
