#include "display/StageGeometry.h"

#include <QtMath>

#include <algorithm>
#include <cmath>

namespace StageGeometry {

int GameOutput(const QList<platform::Output> &outputs, const QRect &window)
{
    int best = -1;
    qint64 bestArea = 0;
    for (int i = 0; i < outputs.size() && !window.isEmpty(); ++i) {
        const QRect common = outputs[i].geometry & window;
        const qint64 area = qint64(common.width()) * common.height();
        if (!common.isEmpty() && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best >= 0)
        return best;
    for (int i = 0; i < outputs.size(); ++i)
        if (outputs[i].primary)
            return i;
    for (int i = 0; i < outputs.size(); ++i)
        if (outputs[i].pointer)
            return i;
    return outputs.isEmpty() ? -1 : 0;
}

double WindowScale(const QSize &stage, const QMargins &frame, const QRect &workArea,
                   double desktopScale)
{
    double scale = desktopScale > 0 ? desktopScale : 1.0;
    if (workArea.isEmpty() || stage.isEmpty())
        return scale;
    const double across = double(workArea.width() - frame.left() - frame.right()) / stage.width();
    const double down = double(workArea.height() - frame.top() - frame.bottom()) / stage.height();
    // A hair below the exact fit, so that rounding up to whole pixels still fits.
    const double fits = std::min(across, down) - 1e-9;
    if (fits < scale)
        scale = std::max(fits, 1.0 / std::max(stage.width(), stage.height()));
    return scale;
}

QSizeF WholeLogicalPixels(const QSize &stage, double scale, double ratio)
{
    if (ratio <= 0 || stage.isEmpty())
        return QSizeF(scale, scale);
    auto axis = [scale, ratio](int pixels) {
        const double logical = std::max(1.0, std::floor(pixels * scale / ratio + 1e-6));
        return logical * ratio / pixels;
    };
    return QSizeF(axis(stage.width()), axis(stage.height()));
}

QSize ScaledStage(const QSize &stage, double scale)
{
    // Whole pixels: a scale of exactly 2 gives 1600x1200, not a pixel more.
    auto scaled = [scale](int pixels) { return qMax(1, qCeil(pixels * scale - 1e-6)); };
    return QSize(scaled(stage.width()), scaled(stage.height()));
}

QPoint Inside(const QRect &outer, const QRect &area)
{
    if (area.isEmpty())
        return outer.topLeft();
    int x = outer.x(), y = outer.y();
    x = std::min(x, area.x() + area.width() - outer.width());
    y = std::min(y, area.y() + area.height() - outer.height());
    return QPoint(std::max(x, area.x()), std::max(y, area.y()));
}

} // namespace StageGeometry
