#include "platform/x11/X11DisplayModes.h"

#include "platform/x11/X11RandR.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::randr {

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

bool OnOutput(const XRROutputInfo &output, RRMode mode)
{
    return std::count(output.modes, output.modes + output.nmode, mode) > 0;
}

// --- What the display shows now ----------------------------------------------------------

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
std::optional<Current> ReadCurrent(Display *d, RROutput wanted)
{
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
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

QList<ActiveOutput> ActiveOutputs(Display *d)
{
    QList<ActiveOutput> found;
    X11ErrorTrap trap(d, X11ErrorTrap::Replies);
    const Window root = DefaultRootWindow(d);
    Resources res(XRRGetScreenResourcesCurrent(d, root));
    if (!res)
        return found;
    const RROutput primary = HasRandR(d, 3) ? XRRGetOutputPrimary(d, root) : None;
    for (int i = 0; i < res->noutput; ++i) {
        OutputInfo info(XRRGetOutputInfo(d, res.get(), res->outputs[i]));
        if (!info || info->connection != RR_Connected || info->crtc == None)
            continue;
        CrtcInfo crtc(XRRGetCrtcInfo(d, res.get(), info->crtc));
        if (!crtc || crtc->mode == None || crtc->width == 0 || crtc->height == 0)
            continue;
        // The mode's size: under Xwayland, whose mode changes are an emulation for the
        // client that asks, the CRTC keeps the real size and only the mode shows the change.
        const XRRModeInfo *mode = FindMode(res.get(), crtc->mode);
        const QSize size = mode ? ShownSize(*mode, crtc->rotation)
                                : QSize(int(crtc->width), int(crtc->height));
        found.push_back({res->outputs[i], QByteArray(info->name, info->nameLen),
                         QRect(QPoint(crtc->x, crtc->y), size), res->outputs[i] == primary});
    }
    if (trap.Failed())
        found.clear();
    return found;
}

} // namespace platform::randr
