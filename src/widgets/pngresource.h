#pragma once
// The program's skin images, compiled into the executable as Qt resources and looked up by
// their numeric id (":/png/<id>.png"), plus the program icon (id 160).

#include <QIcon>
#include <QImage>

#include <vector>

// The decoded image with that id, or a null image when there is none or it does not decode.
// The image owns its pixels; callers may keep it as long as they like.
QImage LoadPngResource(int id);

namespace widgets {

// The program icon (window icon and tray icon) in all its sizes; null when missing.
QIcon LoadIconResource(int id = 160);
// The same in two steps, for decoding on another thread: the images, one per size, which any
// thread may load, and the icon made of them, on the user-interface thread.
std::vector<QImage> LoadIconImages(int id = 160);
QIcon IconFromImages(const std::vector<QImage>& images);

} // namespace widgets
