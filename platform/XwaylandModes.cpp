#include "platform/X11DisplayModes.h" // first: Qt's headers before Xlib's macros
#include "platform/XwaylandModes.h"

#include "platform/X11RandR.h"

#include <X11/Xatom.h>

#include <cstring>
#include <memory>

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
    const Atom property = XInternAtom(d, "_XWAYLAND_RANDR_EMU_MONITOR_RECTS", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    if (XGetWindowProperty(d, w, property, 0, 64, False, XA_CARDINAL, &type, &format, &count,
                           &after, &data)
            != Success
        || trap.Failed())
        return {};
    std::unique_ptr<unsigned char, int (*)(void *)> owned(data, XFree);
    if (type != XA_CARDINAL || format != 32 || !data)
        return {};
    const long *rects = reinterpret_cast<const long *>(data); // Xlib's longs for format 32
    for (unsigned long i = 0; i + 3 < count; i += 4)
        if (QPoint(int(rects[i]), int(rects[i + 1])) == origin)
            return QSize(int(rects[i + 2]), int(rects[i + 3]));
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
