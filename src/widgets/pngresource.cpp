#include "pngresource.h"

#include <QFile>

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

} // namespace

QImage LoadPngResource(int id)
{
    ensureResources();
    QImage image;
    // A failed load leaves the image null; QImage keeps its own copy of the decoded pixels.
    image.load(QStringLiteral(":/png/%1.png").arg(id), "PNG");
    return image;
}

namespace widgets {

QIcon LoadIconResource(int id)
{
    ensureResources();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/icon/%1-%2.png").arg(id).arg(size);
        if (QFile::exists(path))
            icon.addFile(path, QSize(size, size));
    }
    return icon;
}

} // namespace widgets
