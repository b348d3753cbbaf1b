#include "platform/x11/X11DisplayModes.h" // first: Qt's headers before Xlib's macros
#include "platform/x11/XwaylandModes.h"

#include "platform/x11/X11Ewmh.h"
#include "platform/x11/X11RandR.h"

#include <X11/Xatom.h>

#include <cstring>

namespace platform::xwayland {

using namespace randr;

bool IsXwayland(Display *d)
{
    // Newer servers announce an extension of that name; older ones (22.1, measured) only
    // name their outputs XWAYLAND0, XWAYLAND1, ...
    int opcode = 0, event = 0, error = 0;
    if (XQueryExtension(d, "XWAYLAND", &opcode, &event, &error))
        return true;
    if (!HasRandR(d, 2))
        return false;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    const Resources res(XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d)));
    for (int i = 0; res && i < res->noutput; ++i) {
        const OutputInfo info(XRRGetOutputInfo(d, res.get(), res->outputs[i]));
        if (info && std::strncmp(info->name, "XWAYLAND", 8) == 0)
            return true;
    }
    return false;
}

QSize EmulatedSize(Display *d, Window w, const QPoint &origin)
{
    const auto rects =
        ewmh::ReadLongsUpTo(d, w, "_XWAYLAND_RANDR_EMU_MONITOR_RECTS", XA_CARDINAL, 64);
    for (size_t i = 0; rects && i + 3 < rects->size(); i += 4)
        if (QPoint(int((*rects)[i]), int((*rects)[i + 1])) == origin)
            return QSize(int((*rects)[i + 2]), int((*rects)[i + 3]));
    return {};
}

bool AnnounceModeAgain(Display *d, const QPoint &origin)
{
    if (!HasRandR(d, 2))
        return false;
    X11ErrorTrap trap(d);
    const Resources res(XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d)));
    for (int i = 0; res && i < res->ncrtc; ++i) {
        const CrtcInfo crtc(XRRGetCrtcInfo(d, res.get(), res->crtcs[i]));
        if (!crtc || crtc->mode == None || QPoint(crtc->x, crtc->y) != origin)
            continue;
        // The CRTC as this client sees it: its emulated mode, at the output's place.
        const Status status =
            XRRSetCrtcConfig(d, res.get(), res->crtcs[i], CurrentTime, crtc->x, crtc->y,
                             crtc->mode, crtc->rotation, crtc->outputs, crtc->noutput);
        return status == RRSetConfigSuccess && !trap.Failed();
    }
    return false;
}

} // namespace platform::xwayland
