#pragma once
// Placing the skinned dialogs' controls as their Windows templates lay them out: dialog units of
// the 8-point dialog font (1.5 pixels across, 1.625 down), and the cut-corner window outline the
// skinned windows share.

#include <QRect>
#include <QRegion>

namespace DialogUnits {

QRect ToPixels(int x, int y, int width, int height);

// `rect` with its corners cut by 3 pixels at the top and 4 at the bottom.
QRegion CutCornerRegion(const QRect& rect);

} // namespace DialogUnits
