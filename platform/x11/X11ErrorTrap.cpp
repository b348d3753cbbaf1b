#include "platform/x11/X11DisplayModes.h"

#include <X11/Xlib.h>

#include <vector>

namespace platform {
namespace {

// The connections with a trap set now, each with its nesting depth and error count. Errors
// of other connections go to the handler that was installed before the first trap.
struct Trapped {
    Display *display;
    int depth;
    int errors;
};
std::vector<Trapped> trapped;
XErrorHandler previousHandler = nullptr;

Trapped *Find(Display *display)
{
    for (Trapped &t : trapped)
        if (t.display == display)
            return &t;
    return nullptr;
}

int CountError(Display *display, XErrorEvent *event)
{
    if (Trapped *t = Find(display)) {
        ++t->errors;
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display *display, Kind kind) : display_(display), kind_(kind)
{
    if (kind_ == Syncing)
        XSync(display_, False); // errors of earlier requests are not ours
    if (trapped.empty())
        previousHandler = XSetErrorHandler(&CountError);
    Trapped *t = Find(display_);
    if (!t) {
        trapped.push_back({display_, 0, 0});
        t = &trapped.back();
    }
    ++t->depth;
    baseline_ = t->errors;
}

X11ErrorTrap::~X11ErrorTrap()
{
    if (kind_ == Syncing)
        XSync(display_, False);
    Trapped *t = Find(display_);
    if (t && --t->depth == 0)
        trapped.erase(trapped.begin() + (t - trapped.data()));
    if (trapped.empty()) {
        XSetErrorHandler(previousHandler);
        previousHandler = nullptr;
    }
}

bool X11ErrorTrap::Failed()
{
    if (kind_ == Syncing)
        XSync(display_, False);
    return ErrorCount() != 0;
}

int X11ErrorTrap::ErrorCount() const
{
    const Trapped *t = Find(display_);
    return t ? t->errors - baseline_ : 0;
}

} // namespace platform
