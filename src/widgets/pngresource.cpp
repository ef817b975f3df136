#include "pngresource.h"

#include <QPixmap>
#include <QImageReader>

#include <mutex>

// The resources live in this static library; naming them here keeps the linker from dropping
// them and registers them before the first look-up. Q_INIT_RESOURCE must not sit in a namespace.
static void initResources()
{
    Q_INIT_RESOURCE(yfzs);
}

namespace {

void ensureResources()
{
    static std::once_flag once;
    std::call_once(once, initResources);
}

// PNG and nothing else: left to guess from the content, Qt loads and asks every image plugin
// first (GIF, ICO, JPEG with its library), which costs more than the decoding itself.
QImage readPng(const QString& path)
{
    ensureResources();
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read(); // null when the resource is missing or damaged
}

} // namespace

QImage LoadPngResource(int id)
{
    return readPng(QStringLiteral(":/png/%1.png").arg(id));
}

namespace widgets {

QIcon LoadIconResource(int id)
{
    // Decoded now, all sizes together under 1 ms; QIcon::addFile would guess each file's
    // format through the plugins.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage image = readPng(QStringLiteral(":/icon/%1-%2.png").arg(id).arg(size));
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace widgets
