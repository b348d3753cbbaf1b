#include "platform/x11/QtScreenPixels.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtMath>

namespace platform::pixels {
namespace {

QRect NativeGeometry(const QScreen *screen)
{
    const QRect logical = screen->geometry();
    return QRect(logical.topLeft(), logical.size() * screen->devicePixelRatio());
}

} // namespace

QScreen *ScreenAt(const QPoint &point)
{
    for (QScreen *screen : QGuiApplication::screens())
        if (NativeGeometry(screen).contains(point))
            return screen;
    return QGuiApplication::primaryScreen();
}

namespace {

// The rectangle scaled about its screen's corner (kept in device pixels by Qt). Logical
// sizes round up, so that they cover every device pixel; device sizes to the nearest.
QRect Converted(const QRect &rect, bool toDevice)
{
    const QScreen *screen = ScreenAt(rect.topLeft());
    if (!screen)
        return rect;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPointF offset(rect.topLeft() - origin);
    const QPointF topLeft = QPointF(origin) + (toDevice ? offset * ratio : offset / ratio);
    const QSize size = toDevice ? QSize(qRound(rect.width() * ratio), qRound(rect.height() * ratio))
                                : QSize(qCeil(rect.width() / ratio), qCeil(rect.height() / ratio));
    return QRect(topLeft.toPoint(), size);
}

} // namespace

QRect ToLogical(const QRect &device)
{
    return Converted(device, false);
}

QRect ToDevice(const QRect &logical)
{
    return Converted(logical, true);
}

} // namespace platform::pixels
