#include "platform/x11/X11SizeFollower.h"

#include <QCoreApplication>
#include <QTimer>

#include <xcb/xcb.h>

#include <utility>

namespace platform {

X11SizeFollower::X11SizeFollower(QWidget *window, uint32_t frameExtentsAtom)
    : window_(window), frameExtentsAtom_(frameExtentsAtom)
{
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11SizeFollower::~X11SizeFollower()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11SizeFollower::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !window_ || !window_->internalWinId())
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const auto ours = xcb_window_t(window_->internalWinId());
    switch (event->response_type & 0x7f) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        if (configure->window != ours)
            break;
        // The window manager's own notices give the place on the root window, the server's
        // the place in the frame: either kind, when new, may be a move.
        const QRect geometry(configure->x, configure->y, configure->width, configure->height);
        if (geometry != reported_) {
            const bool resized = geometry.size() != reported_.size();
            reported_ = geometry;
            Post(resized);
        }
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto *property = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        if (property->window == ours && property->atom == frameExtentsAtom_)
            Post(false);
        break;
    }
    default:
        break;
    }
    return false; // Qt handles the event as always
}

void X11SizeFollower::Post(bool sizeChanged)
{
    sizeDue_ = sizeDue_ || sizeChanged;
    if (posted_)
        return;
    // Called once Qt has handled this event and any that came with it.
    posted_ = true;
    QTimer::singleShot(0, this, [this] {
        const bool size = std::exchange(sizeDue_, false);
        posted_ = false;
        if (!window_)
            return;
        if (size && sizeChanged_)
            sizeChanged_();
        if (frameChanged_)
            frameChanged_();
    });
}

} // namespace platform
