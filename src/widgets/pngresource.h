#pragma once
// The program's skin images, compiled into the executable as Qt resources and looked up by
// their numeric id (":/png/<id>.png"), plus the program icon (id 160). Each image is also drawn
// at twice its size (":/png/<id>@2x.png"); where a screen's scale is above 1 those are loaded,
// with a device pixel ratio of 2, so the skin stays sharp at 150 % and 200 %.

#include <QIcon>
#include <QImage>

#include <vector>

// The decoded image with that id, or a null image when there is none or it does not decode.
// The image owns its pixels; callers may keep it as long as they like. At skin scale 2 it is
// the double-size drawing with device pixel ratio 2: its deviceIndependentSize() is the size
// it takes on screen at any scale.
QImage LoadPngResource(int id);

namespace widgets {

// Once on the user-interface thread, before the first skin image loads: 2 where any screen's
// scale is above 1, else 1. Until then (and in tests that never call it) the scale is 1.
void ChooseSkinScale();
// Test seam and the choice itself: 1 or 2.
void SetSkinScale(int scale);
int SkinScale();

// The program icon (window icon and tray icon) in all its sizes; null when missing.
QIcon LoadIconResource(int id = 160);
// The same in two steps, for decoding on another thread: the images, one per size, which any
// thread may load, and the icon made of them, on the user-interface thread.
std::vector<QImage> LoadIconImages(int id = 160);
QIcon IconFromImages(const std::vector<QImage>& images);

} // namespace widgets
