#include "platform/X11DisplayModes.h"
#include "platform/X11Connection.h"

#include "platform/Watchdog.h"

#include <QGuiApplication>
#include <QList>
#include <QRect>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace platform {
namespace {

constexpr uint32_t DM_BITSPERPEL = 0x00040000;
constexpr uint32_t DM_PELSWIDTH = 0x00080000;
constexpr uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

// --- RandR replies, freed with their owners --------------------------------------------

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

bool HasRandR(Display *d, int minorAtLeast)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XRRQueryExtension(d, &event, &error) || !XRRQueryVersion(d, &major, &minor))
        return false;
    return major > 1 || (major == 1 && minor >= minorAtLeast);
}

// --- Modes -------------------------------------------------------------------------------

const XRRModeInfo *FindMode(const XRRScreenResources *res, RRMode id)
{
    for (int i = 0; i < res->nmode; ++i)
        if (res->modes[i].id == id)
            return &res->modes[i];
    return nullptr;
}

double RateOf(const XRRModeInfo &mode)
{
    double vTotal = mode.vTotal;
    if (mode.modeFlags & RR_DoubleScan)
        vTotal *= 2;
    if (mode.modeFlags & RR_Interlace)
        vTotal /= 2;
    if (mode.dotClock == 0 || mode.hTotal == 0 || vTotal == 0)
        return 0;
    return double(mode.dotClock) / (double(mode.hTotal) * vTotal);
}

uint32_t RoundedRate(const XRRModeInfo &mode)
{
    return uint32_t(std::lround(RateOf(mode)));
}

bool IsOwn(const XRRModeInfo &mode)
{
    const size_t suffix = std::strlen(OwnModeSuffix);
    return mode.name && mode.nameLength >= suffix
           && std::memcmp(mode.name + mode.nameLength - suffix, OwnModeSuffix, suffix) == 0;
}

bool Sideways(Rotation rotation)
{
    return rotation & (RR_Rotate_90 | RR_Rotate_270);
}

QSize ShownSize(const XRRModeInfo &mode, Rotation rotation)
{
    return Sideways(rotation) ? QSize(int(mode.height), int(mode.width))
                              : QSize(int(mode.width), int(mode.height));
}

// Reduced-blanking timings (CVT-RB) for a size and rate. The pixel clock is rounded to
// 1 kHz rather than CVT's 250 kHz steps, so that the rate reads back as the one asked for.
std::optional<XRRModeInfo> ReducedBlankingTimings(int width, int height, int rate)
{
    constexpr double MinVBlankUs = 460.0;
    constexpr int HBlank = 160, HFrontPorch = 48, HSync = 32;
    constexpr int VFrontPorch = 3, MinVBackPorch = 6;
    const double frameUs = 1e6 / rate;
    if (width <= 0 || height <= 0 || frameUs <= MinVBlankUs + height * 0.01)
        return std::nullopt;
    const int vSync = height * 4 == width * 3     ? 4
                      : height * 16 == width * 9  ? 5
                      : height * 16 == width * 10 ? 6
                      : height * 5 == width * 4   ? 7
                      : height * 15 == width * 9  ? 7
                                                  : 10;
    const double linePeriodUs = (frameUs - MinVBlankUs) / height;
    const int vBlank = std::max(int(MinVBlankUs / linePeriodUs) + 1,
                                VFrontPorch + vSync + MinVBackPorch);
    XRRModeInfo mode{};
    mode.width = unsigned(width);
    mode.hSyncStart = unsigned(width + HFrontPorch);
    mode.hSyncEnd = mode.hSyncStart + HSync;
    mode.hTotal = unsigned(width + HBlank);
    mode.height = unsigned(height);
    mode.vSyncStart = unsigned(height + VFrontPorch);
    mode.vSyncEnd = mode.vSyncStart + unsigned(vSync);
    mode.vTotal = unsigned(height + vBlank);
    mode.dotClock = (unsigned long)(std::llround(double(rate) * mode.hTotal * mode.vTotal / 1000.0))
                    * 1000UL;
    mode.modeFlags = RR_HSyncPositive | RR_VSyncNegative;
    return mode;
}

// --- What the display shows now ----------------------------------------------------------

struct Current {
    Resources res;
    RROutput output = None;
    OutputInfo outputInfo;
    CrtcInfo crtc;
    RRCrtc crtcId = None;
    const XRRModeInfo *mode = nullptr;
    QSize screen;
    int depth = 0;
};

QSize RootSize(Display *d)
{
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &width, &height, &border, &depth))
        return {};
    return QSize(int(width), int(height));
}

// The millimetres for a screen size: the resolution the server was started with (Xlib's
// connection data, which keeps the pair it was opened with), as xrandr keeps it.
QSize MillimetresFor(Display *d, QSize pixels)
{
    const int screen = DefaultScreen(d);
    const int pxW = DisplayWidth(d, screen), pxH = DisplayHeight(d, screen);
    const int mmW = DisplayWidthMM(d, screen), mmH = DisplayHeightMM(d, screen);
    auto scale = [](int px, int refPx, int refMm) {
        return refPx > 0 && refMm > 0 ? int(std::lround(double(px) * refMm / refPx))
                                      : int(std::lround(px * 25.4 / 96.0));
    };
    return QSize(scale(pixels.width(), pxW, mmW), scale(pixels.height(), pxH, mmH));
}

// The primary output and its CRTC: the output asked for when it still drives a CRTC, else
// the RandR primary output, else the first connected output that drives one.
std::optional<Current> ReadCurrent(Display *d, RROutput wanted = None)
{
    X11ErrorTrap trap(d);
    Current c;
    const Window root = DefaultRootWindow(d);
    c.res.reset(XRRGetScreenResourcesCurrent(d, root));
    if (!c.res)
        return std::nullopt;
    QList<RROutput> order;
    if (wanted != None)
        order << wanted;
    if (HasRandR(d, 3))
        if (RROutput primary = XRRGetOutputPrimary(d, root); primary != None)
            order << primary;
    for (int i = 0; i < c.res->noutput; ++i)
        order << c.res->outputs[i];
    for (RROutput output : order) {
        if (!std::count(c.res->outputs, c.res->outputs + c.res->noutput, output))
            continue;
        OutputInfo info(XRRGetOutputInfo(d, c.res.get(), output));
        if (!info || info->connection != RR_Connected || info->crtc == None)
            continue;
        CrtcInfo crtc(XRRGetCrtcInfo(d, c.res.get(), info->crtc));
        if (!crtc || crtc->mode == None)
            continue;
        const XRRModeInfo *mode = FindMode(c.res.get(), crtc->mode);
        if (!mode)
            continue;
        c.output = output;
        c.crtcId = info->crtc;
        c.outputInfo = std::move(info);
        c.crtc = std::move(crtc);
        c.mode = mode;
        break;
    }
    c.screen = RootSize(d);
    c.depth = DefaultDepth(d, DefaultScreen(d));
    if (trap.Failed() || !c.mode || c.screen.isEmpty())
        return std::nullopt;
    return c;
}

// --- Restore data ------------------------------------------------------------------------
//
// One line of "key=value" words: where the mode was shown and what it was, enough to put
// back the same mode, position, rotation and screen size, and to tell a stale mode id.

struct Saved {
    QByteArray display;
    RROutput output = None;
    RRMode mode = None;
    QSize modeSize; // as the mode defines it, before rotation
    unsigned long dotClock = 0;
    uint32_t rate = 0;
    Rotation rotation = RR_Rotate_0;
    QPoint position;
    QSize screen;
    QSize screenMm;
    int depth = 0;
};

constexpr char SavedTag[] = "randr1";

QByteArray Encode(Display *d, const Current &c)
{
    const XRRModeInfo &m = *c.mode;
    const QSize mm = MillimetresFor(d, c.screen);
    return QByteArray(SavedTag)
           + " display=" + QByteArray(DisplayString(d))
           + " output=" + QByteArray::number(qulonglong(c.output))
           + " mode=" + QByteArray::number(qulonglong(m.id))
           + " size=" + QByteArray::number(m.width) + 'x' + QByteArray::number(m.height)
           + " clock=" + QByteArray::number(qulonglong(m.dotClock))
           + " rate=" + QByteArray::number(RoundedRate(m))
           + " rotation=" + QByteArray::number(c.crtc->rotation)
           + " position=" + QByteArray::number(c.crtc->x) + ',' + QByteArray::number(c.crtc->y)
           + " screen=" + QByteArray::number(c.screen.width()) + 'x'
           + QByteArray::number(c.screen.height())
           + " mm=" + QByteArray::number(mm.width()) + 'x' + QByteArray::number(mm.height())
           + " depth=" + QByteArray::number(c.depth);
}

std::optional<Saved> Decode(const QByteArray &data)
{
    const QList<QByteArray> words = data.trimmed().split(' ');
    if (words.isEmpty() || words.first() != SavedTag)
        return std::nullopt;
    Saved s;
    int seen = 0;
    auto pair = [](const QByteArray &value, char sep, bool *ok) {
        const int at = value.indexOf(sep);
        bool a = false, b = false;
        const int first = value.left(at).toInt(&a), second = value.mid(at + 1).toInt(&b);
        *ok = at > 0 && a && b;
        return std::make_pair(first, second);
    };
    for (const QByteArray &word : words.mid(1)) {
        const int eq = word.indexOf('=');
        if (eq <= 0)
            return std::nullopt;
        const QByteArray key = word.left(eq), value = word.mid(eq + 1);
        bool ok = true;
        if (key == "display") {
            s.display = value;
        } else if (key == "output") {
            s.output = RROutput(value.toULongLong(&ok));
        } else if (key == "mode") {
            s.mode = RRMode(value.toULongLong(&ok));
        } else if (key == "size") {
            auto [w, h] = pair(value, 'x', &ok);
            s.modeSize = QSize(w, h);
        } else if (key == "clock") {
            s.dotClock = value.toULong(&ok);
        } else if (key == "rate") {
            s.rate = value.toUInt(&ok);
        } else if (key == "rotation") {
            s.rotation = Rotation(value.toUShort(&ok));
        } else if (key == "position") {
            auto [x, y] = pair(value, ',', &ok);
            s.position = QPoint(x, y);
        } else if (key == "screen") {
            auto [w, h] = pair(value, 'x', &ok);
            s.screen = QSize(w, h);
        } else if (key == "mm") {
            auto [w, h] = pair(value, 'x', &ok);
            s.screenMm = QSize(w, h);
        } else if (key == "depth") {
            s.depth = value.toInt(&ok);
        } else {
            continue; // written by a later version: not needed to restore
        }
        if (!ok)
            return std::nullopt;
        ++seen;
    }
    if (seen < 11 || s.output == None || s.mode == None || s.modeSize.isEmpty()
        || s.screen.isEmpty())
        return std::nullopt;
    return s;
}

// --- Changing the mode ---------------------------------------------------------------

// Where a change takes the primary CRTC, and the screen size around it (empty: just big
// enough for every CRTC).
struct Target {
    RRMode mode = None;
    QSize modeShown;
    Rotation rotation = RR_Rotate_0;
    QPoint position;
    QSize screen;
    QSize screenMm;
};

bool OnOutput(const XRROutputInfo &output, RRMode mode)
{
    return std::count(output.modes, output.modes + output.nmode, mode) > 0;
}

// The same mode, position and rotation as now: nothing to change.
bool IsInForce(Display *d, const Current &c, const Target &t)
{
    if (c.mode->id != t.mode || c.crtc->rotation != t.rotation
        || QPoint(c.crtc->x, c.crtc->y) != t.position)
        return false;
    return t.screen.isEmpty() || t.screen == c.screen || RootSize(d) == t.screen;
}

// Sets the screen size and the CRTC in an order the server accepts at every step: the
// screen grows first (to hold both the old and the new CRTC), then the CRTC changes, then
// the screen shrinks to its final size.
bool Apply(Display *d, const Current &c, const Target &t)
{
    const Window root = DefaultRootWindow(d);
    QRect needed(t.position, t.modeShown);
    for (int i = 0; i < c.res->ncrtc; ++i) {
        if (c.res->crtcs[i] == c.crtcId)
            continue;
        CrtcInfo other(XRRGetCrtcInfo(d, c.res.get(), c.res->crtcs[i]));
        if (other && other->mode != None)
            needed |= QRect(other->x, other->y, int(other->width), int(other->height));
    }
    QSize finalSize = QSize(needed.right() + 1, needed.bottom() + 1).expandedTo(t.screen);
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    if (XRRGetScreenSizeRange(d, root, &minW, &minH, &maxW, &maxH)) {
        if (finalSize.width() > maxW || finalSize.height() > maxH)
            return false;
        finalSize = finalSize.expandedTo(QSize(minW, minH));
    }
    const QSize interim = c.screen.expandedTo(finalSize);

    X11ErrorTrap trap(d);
    auto setScreen = [&](QSize px) {
        // The recorded millimetres for the recorded size; else the same resolution as now.
        const QSize mm = px == t.screen && !t.screenMm.isEmpty() ? t.screenMm
                                                                  : MillimetresFor(d, px);
        XRRSetScreenSize(d, root, px.width(), px.height(), mm.width(), mm.height());
    };
    if (interim != c.screen)
        setScreen(interim);
    if (trap.Failed())
        return false;
    const Status status = XRRSetCrtcConfig(d, c.res.get(), c.crtcId, CurrentTime, t.position.x(),
                                           t.position.y(), t.mode, t.rotation, c.crtc->outputs,
                                           c.crtc->noutput);
    if (status != RRSetConfigSuccess || trap.Failed()) {
        if (interim != c.screen) // the CRTC kept its mode: the screen goes back too
            setScreen(c.screen);
        return false;
    }
    if (finalSize != interim)
        setScreen(finalSize);
    return !trap.Failed();
}

// Adds a mode of our own of the asked size and rate to the output (or takes up the one
// an earlier run left behind). Returns its id, None when the server refuses.
RRMode AddOwnMode(Display *d, const Current &c, QSize shown, uint32_t rate)
{
    const QSize size = Sideways(c.crtc->rotation) ? shown.transposed() : shown;
    const int hz = rate > 0 ? int(rate) : 60;
    const auto timings = ReducedBlankingTimings(size.width(), size.height(), hz);
    if (!timings)
        return None;
    const QByteArray name = QByteArray::number(size.width()) + 'x'
                            + QByteArray::number(size.height()) + '_' + QByteArray::number(hz)
                            + OwnModeSuffix;
    X11ErrorTrap trap(d);
    RRMode id = None;
    for (int i = 0; i < c.res->nmode && id == None; ++i) {
        const XRRModeInfo &m = c.res->modes[i];
        if (m.nameLength == unsigned(name.size()) && name == QByteArray(m.name, m.nameLength)
            && QSize(int(m.width), int(m.height)) == size)
            id = m.id;
    }
    if (id == None) {
        XRRModeInfo *info = XRRAllocModeInfo(name.constData(), int(name.size()));
        const char *allocatedName = info->name;
        *info = *timings;
        info->name = const_cast<char *>(allocatedName);
        info->nameLength = unsigned(name.size());
        id = XRRCreateMode(d, DefaultRootWindow(d), info);
        XRRFreeModeInfo(info);
        if (trap.Failed())
            return None;
    }
    XRRAddOutputMode(d, c.output, id);
    return trap.Failed() ? None : id;
}

struct Request {
    QSize shown;         // the size on screen
    uint32_t rate = 0;   // 0: any
    bool checkDepth = false;
    uint32_t depth = 0;
};

uint32_t ReportedDepth(int xDepth)
{
    return xDepth == 24 ? 32u : uint32_t(xDepth);
}

// What a record asks for; the fields it leaves out keep what the display shows.
Request RequestOf(const DisplayModeRecord &record, const Current &c)
{
    Request r;
    r.shown = QSize(int(c.crtc->width), int(c.crtc->height));
    if (record.dmFields & DM_PELSWIDTH)
        r.shown.setWidth(int(record.dmPelsWidth));
    if (record.dmFields & DM_PELSHEIGHT)
        r.shown.setHeight(int(record.dmPelsHeight));
    if (record.dmFields & DM_DISPLAYFREQUENCY)
        r.rate = record.dmDisplayFrequency;
    r.checkDepth = record.dmFields & DM_BITSPERPEL;
    r.depth = record.dmBitsPerPel;
    return r;
}

// The exact mode the restore data names, when the request is for that mode and the output
// still has it (a mode id of the same size and clock).
std::optional<Target> SavedTarget(const Current &c, const std::optional<Saved> &saved,
                                  const Request &r)
{
    if (!saved || saved->output != c.output || !OnOutput(*c.outputInfo, saved->mode))
        return std::nullopt;
    const XRRModeInfo *m = FindMode(c.res.get(), saved->mode);
    if (!m || QSize(int(m->width), int(m->height)) != saved->modeSize
        || m->dotClock != saved->dotClock)
        return std::nullopt;
    const QSize shown = ShownSize(*m, saved->rotation);
    if (shown != r.shown || (r.rate != 0 && r.rate != RoundedRate(*m)))
        return std::nullopt;
    return Target{saved->mode, shown, saved->rotation, saved->position, saved->screen,
                  saved->screenMm};
}

// A mode of the output with the asked size: the closest refresh rate; for "any rate" the
// mode in force when it has that size, else the output's first (preferred) one.
std::optional<Target> OutputTarget(const Current &c, const Request &r)
{
    const XRRModeInfo *best = nullptr;
    for (int i = 0; i < c.outputInfo->nmode; ++i) {
        const XRRModeInfo *m = FindMode(c.res.get(), c.outputInfo->modes[i]);
        if (!m || ShownSize(*m, c.crtc->rotation) != r.shown)
            continue;
        if (!best) {
            best = m;
        } else if (r.rate == 0) {
            if (m->id == c.mode->id)
                best = m;
        } else if (std::abs(RateOf(*m) - r.rate) < std::abs(RateOf(*best) - r.rate)) {
            best = m;
        }
    }
    if (!best)
        return std::nullopt;
    return Target{best->id, r.shown, c.crtc->rotation, QPoint(c.crtc->x, c.crtc->y), {}, {}};
}

bool SameModeAs(const Current &c, const std::optional<Saved> &saved)
{
    return saved && c.output == saved->output && c.mode->id == saved->mode
           && c.crtc->rotation == saved->rotation
           && QPoint(c.crtc->x, c.crtc->y) == saved->position;
}

// What follows a change, made or not: the modes we added go once the display shows a mode
// that is not ours.
void TidyAfterChange(Display *d, const std::optional<Current> &now)
{
    if (now && !IsOwn(*now->mode))
        RemoveAddedModes(d);
}

enum class Step { Failed, AlreadyInForce, Changed };

// One change of the primary output's mode. `beforeChange` runs once the change is certain
// to be attempted, before anything on the server is touched.
template <typename BeforeChange>
Step Change(Display *d, const DisplayModeRecord &record, BeforeChange beforeChange)
{
    const std::optional<Saved> saved = Decode(record.platformData);
    const std::optional<Current> c = ReadCurrent(d, saved ? saved->output : None);
    if (!c)
        return Step::Failed;
    const Request r = RequestOf(record, *c);
    if (r.checkDepth && r.depth != uint32_t(c->depth) && r.depth != ReportedDepth(c->depth))
        return Step::Failed; // depth cannot change on X
    if (r.shown.isEmpty())
        return Step::Failed;
    std::optional<Target> target = SavedTarget(*c, saved, r);
    if (!target)
        target = OutputTarget(*c, r);
    if (target && IsInForce(d, *c, *target))
        return Step::AlreadyInForce;
    beforeChange(*c);
    if (!target) {
        const RRMode added = AddOwnMode(d, *c, r.shown, r.rate);
        if (added == None) {
            TidyAfterChange(d, c);
            return Step::Failed;
        }
        target = Target{added, r.shown, c->crtc->rotation, QPoint(c->crtc->x, c->crtc->y),
                        {}, {}};
        // The output's mode list has changed: read it again for the resources' timestamp.
        const std::optional<Current> fresh = ReadCurrent(d, c->output);
        if (!fresh)
            return Step::Failed;
        const bool applied = Apply(d, *fresh, *target);
        TidyAfterChange(d, ReadCurrent(d, c->output));
        return applied ? Step::Changed : Step::Failed;
    }
    const bool applied = Apply(d, *c, *target);
    TidyAfterChange(d, ReadCurrent(d, c->output));
    return applied ? Step::Changed : Step::Failed;
}

} // namespace

// --- X errors ----------------------------------------------------------------------------

namespace {
XErrorHandler previousHandler = nullptr;
Display *trappedDisplay = nullptr;
int trapDepth = 0;
int trappedErrors = 0;

int CountError(Display *display, XErrorEvent *event)
{
    if (display == trappedDisplay) {
        ++trappedErrors;
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}
} // namespace

X11ErrorTrap::X11ErrorTrap(Display *display) : display_(display)
{
    XSync(display_, False); // errors of earlier requests are not ours
    if (trapDepth++ == 0) {
        trappedDisplay = display_;
        trappedErrors = 0;
        previousHandler = XSetErrorHandler(&CountError);
    }
    baseline_ = trappedErrors;
}

X11ErrorTrap::~X11ErrorTrap()
{
    XSync(display_, False);
    if (--trapDepth == 0) {
        XSetErrorHandler(previousHandler);
        previousHandler = nullptr;
        trappedDisplay = nullptr;
    }
}

bool X11ErrorTrap::Failed()
{
    XSync(display_, False);
    return trappedErrors != baseline_;
}

int X11ErrorTrap::ErrorCount() const
{
    return trappedErrors - baseline_;
}

// --- X11DisplayModes -----------------------------------------------------------------

X11DisplayModes::X11DisplayModes() : ownConnectionOfQt_(true) {}

X11DisplayModes::X11DisplayModes(Display *display) : display_(display) {}

X11DisplayModes::~X11DisplayModes()
{
    // Modes of ours that no CRTC shows any more; one still shown is the watchdog's to
    // remove once it has given the desktop back.
    if (Display *d = connection(); d && HasRandR(d, 2))
        RemoveAddedModes(d);
}

Display *X11DisplayModes::connection() const
{
    return ownConnectionOfQt_ ? QtDisplay() : display_;
}

bool X11DisplayModes::EnumCurrent(DisplayModeRecord &record)
{
    Display *d = connection();
    if (!d || !HasRandR(d, 2))
        return false;
    const std::optional<Current> c = ReadCurrent(d);
    if (!c)
        return false;
    record.dmPelsWidth = c->crtc->width;
    record.dmPelsHeight = c->crtc->height;
    record.dmBitsPerPel = ReportedDepth(c->depth);
    record.dmDisplayFrequency = RoundedRate(*c->mode);
    record.dmFields = DisplayModeFields;
    record.platformData = Encode(d, *c);
    return true;
}

bool X11DisplayModes::ChangeTemporarily(const DisplayModeRecord &record)
{
    Display *d = connection();
    if (!d || !HasRandR(d, 2))
        return false;
    const Step step = Change(d, record, [&](const Current &before) {
        if (desktop_.isEmpty()) {
            desktop_ = Encode(d, before);
            Watchdog::DesktopModeToRestore(desktop_);
        }
    });
    if (!desktop_.isEmpty()) {
        const std::optional<Current> now = ReadCurrent(d);
        if (now && SameModeAs(*now, Decode(desktop_))) {
            desktop_.clear();
            Watchdog::DesktopModeRestored();
        }
    }
    return step != Step::Failed;
}

// --- For the watchdog and the repair at start --------------------------------------------

bool RestoreDisplayMode(Display *display, const QByteArray &restoreData)
{
    const std::optional<Saved> saved = Decode(restoreData);
    if (!display || !saved || !HasRandR(display, 2))
        return false;
    DisplayModeRecord record;
    const QSize shown = Sideways(saved->rotation) ? saved->modeSize.transposed() : saved->modeSize;
    record.dmPelsWidth = uint32_t(shown.width());
    record.dmPelsHeight = uint32_t(shown.height());
    record.dmDisplayFrequency = saved->rate;
    record.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
    record.platformData = restoreData;
    const Step step = Change(display, record, [](const Current &) {});
    if (step == Step::AlreadyInForce)
        RemoveAddedModes(display);
    const std::optional<Current> now = ReadCurrent(display, saved->output);
    return step != Step::Failed && now && ShownSize(*now->mode, now->crtc->rotation) == shown;
}

int RemoveAddedModes(Display *display)
{
    X11ErrorTrap trap(display);
    Resources res(XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
    if (!res)
        return 0;
    QList<RRMode> shown;
    for (int i = 0; i < res->ncrtc; ++i)
        if (CrtcInfo crtc(XRRGetCrtcInfo(display, res.get(), res->crtcs[i])); crtc)
            shown << crtc->mode;
    std::vector<OutputInfo> outputs;
    for (int i = 0; i < res->noutput; ++i)
        outputs.emplace_back(XRRGetOutputInfo(display, res.get(), res->outputs[i]));
    int removed = 0;
    for (int i = 0; i < res->nmode; ++i) {
        const XRRModeInfo &mode = res->modes[i];
        if (!IsOwn(mode) || shown.contains(mode.id))
            continue;
        for (int o = 0; o < res->noutput; ++o)
            if (outputs[size_t(o)] && OnOutput(*outputs[size_t(o)], mode.id))
                XRRDeleteOutputMode(display, res->outputs[o], mode.id);
        trap.Failed(); // errors of the deletions above are in by now
        const int errorsBefore = trap.ErrorCount();
        XRRDestroyMode(display, mode.id);
        trap.Failed();
        if (trap.ErrorCount() == errorsBefore)
            ++removed;
    }
    return removed;
}

QByteArray DisplayNameOf(const QByteArray &restoreData)
{
    const std::optional<Saved> saved = Decode(restoreData);
    return saved ? saved->display : QByteArray();
}

} // namespace platform
