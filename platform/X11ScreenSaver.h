#pragma once
#include "platform/Services.h"

namespace platform {

// The X server's screen saver: "active" means a non-zero screen-saver timeout. Switching
// it off remembers the timeout in force, and switching it on restores that timeout (or the
// one seen at creation, or ten minutes when none was ever known).
class X11ScreenSaver : public ScreenSaver {
public:
    X11ScreenSaver();
    bool IsActive() override;
    bool SetActive(bool active) override;

private:
    int knownTimeout_ = 0;
};

} // namespace platform
