// The display modes this program adds to an output when it has none of the asked size, and
// their removal once no CRTC shows them. Their names end with OwnModeSuffix, so that modes
// a crashed run left behind are found too.
#include "platform/x11/X11DisplayModes.h"

#include "platform/x11/X11RandR.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {

using namespace randr;

namespace {

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

} // namespace

namespace randr {

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

} // namespace randr

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

} // namespace platform
