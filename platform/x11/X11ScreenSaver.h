#pragma once
#include "platform/Services.h"

typedef struct _XDisplay Display;

namespace platform {

// The X server's screen saver: "active" means a non-zero screen-saver timeout. Switching
// it off remembers the timeout in force, and switching it on restores that timeout (or the
// one seen at creation); with no timeout ever seen, switching on leaves the server alone. A timeout switched off
// is in the watchdog's care until it is switched on again, so that it comes back however
// the program ends.
class X11ScreenSaver : public ScreenSaver {
public:
    // On the Qt application's X connection.
    X11ScreenSaver();
    // On a connection of the caller's, which stays the caller's.
    explicit X11ScreenSaver(Display *display);
    bool IsActive() override;
    bool SetActive(bool active) override;

private:
    Display *connection() const;

    Display *display_ = nullptr;
    bool ofQt_ = false;
    int knownTimeout_ = 0;
};

} // namespace platform
