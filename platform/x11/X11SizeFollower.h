#pragma once
// Following the main window's client area and frame as the X server reports them.
//
// Qt makes a resize event of a ConfigureNotify only when the window's size in its logical
// pixels changes (at a fractional scale two sizes in screen pixels can round to one), and a
// layout made while the window manager was still busy with a change may have read the size
// it had before. The follower sees the same events on Qt's own connection, before Qt
// handles them, and calls back from the event loop each time the size in screen pixels is
// new, so that whatever was laid out for an older size is laid out again.
//
// It also tells of every new place or size of the window and every new frame
// (_NET_FRAME_EXTENTS): a window manager may go on changing the window after it has
// answered a request, and whoever placed the window can check that it is still where it
// was put.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace platform {

class X11SizeFollower : public QObject, public QAbstractNativeEventFilter {
public:
    // `frameExtentsAtom`: the atom _NET_FRAME_EXTENTS on Qt's connection.
    X11SizeFollower(QWidget *window, uint32_t frameExtentsAtom);
    ~X11SizeFollower() override;

    void OnSizeChanged(std::function<void()> changed) { sizeChanged_ = std::move(changed); }
    void OnFrameChanged(std::function<void()> changed) { frameChanged_ = std::move(changed); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    void Post(bool sizeChanged);

    QPointer<QWidget> window_;
    uint32_t frameExtentsAtom_;
    std::function<void()> sizeChanged_, frameChanged_;
    QRect reported_;         // the geometry of the last ConfigureNotify
    bool posted_ = false;  // a call back is on its way: a burst of events ends in one
    bool sizeDue_ = false; // and it tells of a new size
};

} // namespace platform
