#pragma once
// The program's skin images, compiled into the executable as Qt resources and looked up by
// their numeric id (":/png/<id>.png"), plus the program icon (id 160).

#include <QIcon>
#include <QImage>

// The decoded image with that id, or a null image when there is none or it does not decode.
// The image owns its pixels; callers may keep it as long as they like.
QImage LoadPngResource(int id);

namespace widgets {

// The program icon (window icon and tray icon) in all its sizes; null when missing.
QIcon LoadIconResource(int id = 160);

} // namespace widgets
