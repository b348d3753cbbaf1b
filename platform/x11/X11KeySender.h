#pragma once
#include "platform/Services.h"

typedef struct _XDisplay Display;

namespace platform {

// Types keys through the XTest extension: they reset the server's idle time (keys sent with
// XSendEvent do not). The keys go to the given window only: it must be the window manager's
// active window (_NET_ACTIVE_WINDOW, where the window manager names one) and hold the X
// input focus, and the keyboard is grabbed for it while the keys are typed, so they reach no
// other window whatever happens to the focus meanwhile. Another client that holds the
// keyboard (a screen locker, a menu) gets nothing: the grab fails and nothing is typed.
class X11KeySender : public KeySender {
public:
    // On the Qt application's X connection.
    X11KeySender() = default;
    // On a connection of the caller's, which stays the caller's.
    explicit X11KeySender(Display *display) : display_(display) {}
    bool SendSpaceAndBackspace(QWidget *window) override;
    // The same for an X window of this connection's.
    bool SendSpaceAndBackspaceTo(unsigned long window);

private:
    Display *display_ = nullptr;
};

} // namespace platform
