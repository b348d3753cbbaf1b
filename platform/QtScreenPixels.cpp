#include "platform/QtScreenPixels.h"

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

QRect ToLogical(const QRect &device)
{
    const QScreen *screen = ScreenAt(device.topLeft());
    if (!screen)
        return device;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPointF topLeft = QPointF(origin) + QPointF(device.topLeft() - origin) / ratio;
    return QRect(topLeft.toPoint(),
                 QSize(qCeil(device.width() / ratio), qCeil(device.height() / ratio)));
}

QRect ToDevice(const QRect &logical)
{
    const QScreen *screen = ScreenAt(logical.topLeft());
    if (!screen)
        return logical;
    const qreal ratio = screen->devicePixelRatio();
    const QPoint origin = screen->geometry().topLeft();
    const QPointF topLeft = QPointF(origin) + QPointF(logical.topLeft() - origin) * ratio;
    return QRect(topLeft.toPoint(),
                 QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
}

} // namespace platform::pixels
