#pragma once
// Following the size of the main window's client area as the X server reports it.
//
// Qt makes a resize event of a ConfigureNotify only when the window's size in its logical
// pixels changes (at a fractional scale two sizes in screen pixels can round to one), and a
// layout made while the window manager was still busy with a change may have read the size
// it had before. The follower sees the same events on Qt's own connection, before Qt
// handles them, and calls back from the event loop each time the size in screen pixels is
// new, so that whatever was laid out for an older size is laid out again.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>

namespace platform {

class X11SizeFollower : public QObject, public QAbstractNativeEventFilter {
public:
    X11SizeFollower(QWidget *window, std::function<void()> changed);
    ~X11SizeFollower() override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    QPointer<QWidget> window_;
    std::function<void()> changed_;
    QSize reported_;      // the size of the last ConfigureNotify
    bool posted_ = false; // a call back is on its way: a burst of sizes ends in one
};

} // namespace platform
