#pragma once
// Reading the display through RandR 1.2: the replies, the modes, the mode in force on an
// output, the active outputs, and the restore data that names a mode so that it can be
// given back. Shared by the display-mode service and the restore of the watchdog; the
// changes themselves are in X11DisplayModes.cpp, the modes of our own in X11OwnModes.cpp.
//
// Include after Qt's widget headers: Xlib's macros clash with them.
#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace platform::randr {

// --- Replies, freed with their owners ---------------------------------------------------

struct FreeResources {
    void operator()(XRRScreenResources *r) const { XRRFreeScreenResources(r); }
};
struct FreeOutput {
    void operator()(XRROutputInfo *o) const { XRRFreeOutputInfo(o); }
};
struct FreeCrtc {
    void operator()(XRRCrtcInfo *c) const { XRRFreeCrtcInfo(c); }
};
using Resources = std::unique_ptr<XRRScreenResources, FreeResources>;
using OutputInfo = std::unique_ptr<XRROutputInfo, FreeOutput>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, FreeCrtc>;

// RandR 1.minorAtLeast or later.
bool HasRandR(Display *d, int minorAtLeast);

// --- Modes ---------------------------------------------------------------------------------

const XRRModeInfo *FindMode(const XRRScreenResources *res, RRMode id);
// The refresh rate from the timings; 0 when the server gives none.
double RateOf(const XRRModeInfo &mode);
uint32_t RoundedRate(const XRRModeInfo &mode);
// A mode this program added (its name ends with OwnModeSuffix).
bool IsOwn(const XRRModeInfo &mode);
bool Sideways(Rotation rotation);
QSize ShownSize(const XRRModeInfo &mode, Rotation rotation);
bool OnOutput(const XRROutputInfo &output, RRMode mode);

// --- What an output shows now ------------------------------------------------------------

struct Current {
    Resources res;
    RROutput output = 0;
    OutputInfo outputInfo;
    CrtcInfo crtc;
    RRCrtc crtcId = 0;
    const XRRModeInfo *mode = nullptr;
    QSize screen;
    int depth = 0;
};

QSize RootSize(Display *d);
// The millimetres for a screen size, at the resolution the server was started with.
QSize MillimetresFor(Display *d, QSize pixels);
// An output and its CRTC: the output asked for when it still drives a CRTC, else the
// RandR primary output, else the first connected output that drives one.
std::optional<Current> ReadCurrent(Display *d, RROutput wanted = 0);

// The outputs that show a part of the screen now.
struct ActiveOutput {
    RROutput id = 0;
    QByteArray name;
    QRect geometry; // root coordinates, pixels of the screen
    bool primary = false;
};
QList<ActiveOutput> ActiveOutputs(Display *d);

// Adds a mode of our own of the size shown and the rate to the output of `c` (or takes up
// the one an earlier run left behind). Its id; None when the server refuses.
RRMode AddOwnMode(Display *d, const Current &c, QSize shown, uint32_t rate);

// --- Restore data --------------------------------------------------------------------------
//
// One line of "key=value" words: where the mode was shown and what it was, enough to put
// back the same mode, position, rotation and screen size, and to tell a stale mode id.

struct Saved {
    QByteArray display;
    RROutput output = 0;
    RRMode mode = 0;
    QSize modeSize; // as the mode defines it, before rotation
    unsigned long dotClock = 0;
    uint32_t rate = 0;
    Rotation rotation = RR_Rotate_0;
    QPoint position;
    QSize screen;
    QSize screenMm;
    int depth = 0;
};

QByteArray Encode(Display *d, const Current &c);
std::optional<Saved> Decode(const QByteArray &data);

} // namespace platform::randr
