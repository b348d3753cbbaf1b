#pragma once
// The geometry decisions of the two modes that depend on the desktop, as plain functions:
// which output holds the game, the scale at which a window shows the stage, and where a
// window lies inside the work area. All in the screen's own (device) pixels.
#include "platform/Services.h"

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>

namespace StageGeometry {

// The output that holds the game: the one with the largest part of the window when the
// window is on one (empty `window`: not shown yet), else the primary output, else the one
// with the pointer, else the first. -1 when there is none.
int GameOutput(const QList<platform::Output> &outputs, const QRect &window);

// Screen pixels per stage pixel in window mode: the desktop's own scale when the stage at
// that scale and the frame around it fit the work area, else the largest scale that fits
// (the whole stage always shows; it may come out smaller than one screen pixel per stage
// pixel on a small desktop). An empty work area sets no limit.
double WindowScale(const QSize &stage, const QMargins &frame, const QRect &workArea,
                   double desktopScale);

// Screen pixels per stage pixel on each axis near `scale`, such that the stage covers whole
// logical pixels of the toolkit (`ratio` screen pixels each), never more than at `scale`:
// windows are sized in logical pixels, so a stage between two of them would be cut by one
// or leave a gap.
QSizeF WholeLogicalPixels(const QSize &stage, double scale, double ratio);

// The stage's size on the screen at a scale: whole pixels, never smaller than the scaled
// stage, so that nothing of it is cut.
QSize ScaledStage(const QSize &stage, double scale);

// The top-left corner at which the outer rectangle lies inside the area, moved as little as
// possible (a rectangle larger than the area keeps its top-left corner inside it, so the
// title bar stays reachable). An empty area leaves the corner where it is.
QPoint Inside(const QRect &outer, const QRect &area);

} // namespace StageGeometry
