#include "resources/AppIcon.h"

#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <cstdio>
#include <map>

// The resource file lives in a static library: register it before its first use.
static void InitIconResource()
{
    Q_INIT_RESOURCE(lanternfall_icon);
}

QString LanternfallIconPath()
{
    InitIconResource();
    return QStringLiteral(":/lanternfall/lanternfall.ico");
}

QIcon LanternfallIcon()
{
    QImageReader reader(LanternfallIconPath(), "ico");
    // The icon file stores the images with a full alpha channel after the ones with a one-bit
    // mask of the same size, so the last image of each size is the one to show.
    std::map<int, QImage> bySize;
    for (int i = 0; i < reader.imageCount() && reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        if (!image.isNull())
            bySize[image.width()] = image;
    }
    QIcon icon;
    for (const auto &[size, image] : bySize)
        icon.addPixmap(QPixmap::fromImage(image));
    if (icon.isNull())
        std::fprintf(stderr, "lanternfall: cannot read the application icon: %s\n",
                     qPrintable(reader.errorString()));
    return icon;
}
