#include "widgets/pngresource.h"

#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>

#include <atomic>
#include <mutex>

// The resources live in this static library; naming them here keeps the linker from dropping
// them and registers them before the first look-up. Q_INIT_RESOURCE must not sit in a namespace.
static void initResources()
{
    Q_INIT_RESOURCE(yfzs);
}

namespace {

std::atomic_int skinScale = 1; // workers load images too

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
    if (skinScale.load() == 2) {
        QImage sharp = readPng(QStringLiteral(":/png/%1@2x.png").arg(id));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2);
            return sharp;
        }
    }
    return readPng(QStringLiteral(":/png/%1.png").arg(id));
}

namespace widgets {

void ChooseSkinScale()
{
    // The highest scale of any screen: a window may move to it. At 150 % the double-size image
    // drawn smaller is sharper than the single one drawn larger.
    SetSkinScale(qGuiApp && qGuiApp->devicePixelRatio() > 1.0 ? 2 : 1);
}

void SetSkinScale(int scale)
{
    skinScale = scale == 2 ? 2 : 1;
}

int SkinScale()
{
    return skinScale.load();
}

// All sizes are decoded at once (QIcon::addFile would defer it, but guess each file's format
// through the plugins): about 2 ms, which is why the main window has it done elsewhere.
std::vector<QImage> LoadIconImages(int id)
{
    std::vector<QImage> images;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image = readPng(QStringLiteral(":/icon/%1-%2.png").arg(id).arg(size));
        if (!image.isNull())
            images.push_back(std::move(image));
    }
    return images;
}

QIcon IconFromImages(const std::vector<QImage>& images)
{
    QIcon icon;
    for (const QImage& image : images)
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}

QIcon LoadIconResource(int id)
{
    return IconFromImages(LoadIconImages(id));
}

} // namespace widgets
