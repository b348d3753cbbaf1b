#pragma once
#include "platform/Services.h"

namespace platform {

// Types keys through the XTest extension: they reach the window with the keyboard focus
// as if typed, and reset the server's idle time (keys sent with XSendEvent do neither).
class X11KeySender : public KeySender {
public:
    bool SendSpaceAndBackspace() override;
};

} // namespace platform
