#include "platform/x11/X11DisplayModes.h"
#include "platform/x11/X11Connection.h"

#include "platform/Watchdog.h"

#include <QGuiApplication>
#include <QList>
#include <QRect>

#include "platform/x11/X11RandR.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace platform {

using namespace randr;

namespace {

constexpr uint32_t DM_BITSPERPEL = 0x00040000;
constexpr uint32_t DM_PELSWIDTH = 0x00080000;
constexpr uint32_t DM_PELSHEIGHT = 0x00100000;
constexpr uint32_t DM_DISPLAYFREQUENCY = 0x00400000;

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
    r.shown = ShownSize(*c.mode, c.crtc->rotation);
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

// What follows a failed change: a mode we added goes again unless the display shows it.
void TidyAfterFailure(Display *d, const std::optional<Current> &now)
{
    if (now && !IsOwn(*now->mode))
        RemoveAddedModes(d);
}

// Holds the X server for this connection alone from the reading of the outputs to the
// mode setting. Desktops that manage the outputs themselves (mutter) change them on their
// own: a change of theirs in between made the mode setting fail for its stale
// configuration time, and an added mode seen before the mode setting that uses it is taken
// for a monitor plugged in (mutter then sets its own configuration on every output).
class ServerGrab {
public:
    explicit ServerGrab(Display *d) : display_(d) { XGrabServer(d); }
    ~ServerGrab()
    {
        XUngrabServer(display_);
        XFlush(display_);
    }
    ServerGrab(const ServerGrab &) = delete;
    ServerGrab &operator=(const ServerGrab &) = delete;

private:
    Display *display_;
};

enum class Step { Failed, AlreadyInForce, Changed };

// One change of the primary output's mode. `beforeChange` runs once the change is certain
// to be attempted, before anything on the server is touched.
template <typename BeforeChange>
Step Change(Display *d, const DisplayModeRecord &record, BeforeChange beforeChange)
{
    const std::optional<Saved> saved = Decode(record.platformData);
    ServerGrab grab(d);
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
        // A mode of our own stays on the output until the program ends (see RemoveAddedModes):
        // every later switch is then a mode setting alone, which no desktop mistakes for a
        // monitor being plugged in.
        bool applied = false;
        const RRMode added = AddOwnMode(d, *c, r.shown, r.rate);
        if (added != None) {
            target = Target{added, r.shown, c->crtc->rotation, QPoint(c->crtc->x, c->crtc->y),
                            {}, {}};
            // The mode list has changed: read it again for the resources' timestamp.
            if (const std::optional<Current> fresh = ReadCurrent(d, c->output))
                applied = Apply(d, *fresh, *target);
        }
        if (!applied)
            TidyAfterFailure(d, ReadCurrent(d, c->output));
        return applied ? Step::Changed : Step::Failed;
    }
    return Apply(d, *c, *target) ? Step::Changed : Step::Failed;
}

} // namespace

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
    const std::optional<Current> c = ReadCurrent(d, selectedId(d));
    if (!c)
        return false;
    // The mode's size (under Xwayland the CRTC keeps the real size: see ActiveOutputs).
    const QSize shown = ShownSize(*c->mode, c->crtc->rotation);
    record.dmPelsWidth = uint32_t(shown.width());
    record.dmPelsHeight = uint32_t(shown.height());
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
        const std::optional<Current> now = ReadCurrent(d, selectedId(d));
        if (now && IsOwn(*now->mode))
            Watchdog::AddedModesOn(DisplayNameOf(desktop_));
        if (now && SameModeAs(*now, Decode(desktop_))) {
            desktop_.clear();
            Watchdog::DesktopModeRestored();
        }
    }
    return step != Step::Failed;
}

QList<Output> X11DisplayModes::Outputs()
{
    QList<Output> outputs;
    Display *d = connection();
    if (!d || !HasRandR(d, 2))
        return outputs;
    Window root = None, child = None;
    int x = 0, y = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    const bool pointerKnown = XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y,
                                            &winX, &winY, &mask);
    for (const ActiveOutput &a : ActiveOutputs(d))
        outputs.push_back({a.name, a.geometry, a.primary,
                           pointerKnown && a.geometry.contains(x, y)});
    return outputs;
}

void X11DisplayModes::SelectOutput(const QByteArray &name)
{
    if (name != selected_)
        selectedId_ = None;
    selected_ = name;
}

unsigned long X11DisplayModes::selectedId(Display *d)
{
    if (selected_.isEmpty() || selectedId_ != None)
        return selectedId_;
    for (const ActiveOutput &a : ActiveOutputs(d))
        if (a.name == selected_)
            selectedId_ = a.id;
    return selectedId_;
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
    RemoveAddedModes(display);
    const std::optional<Current> now = ReadCurrent(display, saved->output);
    return step != Step::Failed && now && ShownSize(*now->mode, now->crtc->rotation) == shown;
}


QByteArray DisplayNameOf(const QByteArray &restoreData)
{
    const std::optional<Saved> saved = Decode(restoreData);
    return saved ? saved->display : QByteArray();
}

} // namespace platform
