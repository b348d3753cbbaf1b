#pragma once
// Qt's logical pixels and the screen's own (device) pixels, in root coordinates.
//
// Qt keeps each screen's top-left corner in the screen's own pixels and scales the rest
// of it by the screen's device pixel ratio.
#include <QRect>

class QScreen;

namespace platform::pixels {

// The screen that holds the point (in device pixels); else the primary screen.
QScreen *ScreenAt(const QPoint &point);
// A rectangle in device pixels as Qt's logical pixels, and back.
QRect ToLogical(const QRect &device);
QRect ToDevice(const QRect &logical);

} // namespace platform::pixels
