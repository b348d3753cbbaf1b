#include "platform/X11SizeFollower.h"

#include <QCoreApplication>
#include <QTimer>

#include <xcb/xcb.h>

namespace platform {

X11SizeFollower::X11SizeFollower(QWidget *window, std::function<void()> changed)
    : window_(window), changed_(std::move(changed))
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
    if ((event->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY)
        return false;
    const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
    if (configure->window != xcb_window_t(window_->internalWinId()))
        return false;
    const QSize size(configure->width, configure->height);
    if (size == reported_)
        return false;
    reported_ = size;
    // Called once Qt has handled this event and any that came with it.
    if (!posted_) {
        posted_ = true;
        QTimer::singleShot(0, this, [this] {
            posted_ = false;
            if (window_)
                changed_();
        });
    }
    return false; // Qt handles the event as always
}

} // namespace platform
