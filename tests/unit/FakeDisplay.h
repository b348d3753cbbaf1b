#pragma once
// The display and the window system faked: modes of the outputs, and the main window's
// style, frame, place and full-screen state as a window manager would keep them.
#include "FakeLog.h"

namespace fakes {

// The display: a current mode on the selected output that EnumCurrent reads and that
// ChangeTemporarily replaces (the display takes every mode it is given). One output,
// "screen", at 0,0 unless `outputs` lists others; a change resizes the selected output in
// place and leaves the others as they are.
struct FakeDisplayModes : Logged, platform::DisplayModes {
    using Logged::Logged;
    void setDesktop(int w, int h, int depth, int freq)
    {
        current = {uint32_t(w),
                   uint32_t(h),
                   uint32_t(depth),
                   uint32_t(freq),
                   0x007C0020, // what an enumeration leaves there: more than the four bits
                   QByteArrayLiteral("desktop-mode")};
    }
    QSize size() const { return QSize(int(current.dmPelsWidth), int(current.dmPelsHeight)); }

    bool EnumCurrent(platform::DisplayModeRecord &record) override
    {
        log.add("display.Enum");
        if (!enumFails)
            record = current;
        return !enumFails;
    }
    bool ChangeTemporarily(const platform::DisplayModeRecord &r) override
    {
        log.add(ModeText(int(r.dmPelsWidth), int(r.dmPelsHeight), int(r.dmBitsPerPel),
                         int(r.dmDisplayFrequency)));
        if (refuses)
            return false;
        changes.push_back(current = r);
        for (platform::Output &o : outputs)
            if (o.name == selected)
                o.geometry.setSize(size());
        return true;
    }
    QList<platform::Output> Outputs() override
    {
        if (outputs.isEmpty())
            return {{"screen", QRect(QPoint(0, 0), size()), true, true}};
        return outputs;
    }
    void SelectOutput(const QByteArray &name) override
    {
        log.add("display.Select " + QString::fromLatin1(name));
        selected = name;
    }

    platform::DisplayModeRecord current;
    std::vector<platform::DisplayModeRecord> changes;
    bool enumFails = false;
    bool refuses = false; // the display takes no mode
    QList<platform::Output> outputs;
    QByteArray selected;
};

// The window system: a style word per window (with the caption bits the window has a frame
// of `decorated`, without them none) and the window's real place, in screen pixels: the
// client area's top-left is the widget's position, its size the widget's size times
// `scale` (the desktop's screen pixels per logical pixel). With `fullScreenWm`, it acts as
// an EWMH window manager: a window without its title bar covers its home output and is
// held there, and gets its earlier geometry back with its title bar. With `fitsLate` it sets
// the full-screen state at once but fits the window only at `fitLate()`, as the X server
// then reports it, without a resize from the toolkit.
struct FakeWindowSystem : Logged, platform::WindowSystem {
    static constexpr uint32_t Caption = 0x00C00000;
    static constexpr uint32_t OverlappedWindow = 0x16CF0000; // caption, frame, buttons, visible
    using Logged::Logged;

    static QString styleText(uint32_t s)
    {
        return QStringLiteral("window.SetStyle 0x%1").arg(s, 8, 16, QChar(u'0'));
    }
    uint32_t styleOf(QWidget *w) const { return styles.value(w, OverlappedWindow); }
    bool decoratedNow(QWidget *w) const { return (styleOf(w) & Caption) == Caption; }
    uint32_t GetWindowStyle(QWidget *w) override { return log.add("window.GetStyle"), styleOf(w); }
    void SetWindowStyle(QWidget *w, uint32_t s) override { log.add(styleText(s)), styles[w] = s; }
    void SetHomeOutput(QWidget *, const QRect &output) override { home = output; }
    void FrameChanged(QWidget *w) override
    {
        log.add("window.FrameChanged");
        if (!fullScreenWm)
            return;
        const QRect covered = coversRealOutput.isEmpty() ? home : coversRealOutput;
        if (!decoratedNow(w) && !held) {
            held = true;
            restore = ClientGeometry(w);
            if (fitsLate)
                lateClient = covered;
            else
                place(w, covered);
        } else if (decoratedNow(w) && held) {
            held = false;
            lingering = leavesLate;
            if (!lingering)
                place(w, restore);
        } else if (held) {
            place(w, covered);
        }
    }
    QMargins FrameExtents(QWidget *w) override
    {
        return decoratedNow(w) && tellsFrame ? decorated : QMargins();
    }
    QMargins DecoratedFrameExtents(QWidget *) override
    {
        return tellsFrame ? decorated : QMargins();
    }
    bool iconicBeforeQtKnows = false;
    bool neverMinimises = false; // ignores a request to minimise (weston's X window manager)
    bool HeldByWindowManager(QWidget *w) override { return held && !decoratedNow(w); }
    // The window manager has done a minimising asked for (`slowToMinimise`: not yet;
    // `iconicBeforeQtKnows`: done, and Qt has not heard of it).
    bool Iconic(QWidget *w) override
    {
        return iconicBeforeQtKnows
               || (w->isMinimized() && !slowToMinimise && !neverMinimises);
    }
    QRect ClientGeometry(QWidget *w) override
    {
        return fittedLate ? lateClient : QRect(w->pos(), w->size() * scale);
    }
    void FollowClientSize(QWidget *, std::function<void()> changed) override
    {
        sizeChanged = std::move(changed);
    }
    void FollowFrame(QWidget *, std::function<void()> changed) override
    {
        frameChanged = std::move(changed);
    }
    // The window manager moves and sizes the window of its own accord, and says so; with
    // `leavesLate` it leaves the full-screen state only here (meanwhile it ignores the
    // host's size and place).
    void moveOnItsOwn(QWidget *w, const QRect &client)
    {
        lingering = false;
        place(w, client);
        if (frameChanged)
            frameChanged();
    }
    void fitLate()
    {
        fittedLate = true;
        if (sizeChanged)
            sizeChanged();
    }
    void ResizeClient(QWidget *w, const QSize &size) override
    {
        if (!HeldByWindowManager(w) && !lingering)
            w->resize(QSize(qCeil(size.width() / scale), qCeil(size.height() / scale)));
    }
    void MoveTo(QWidget *w, int x, int y) override
    {
        log.add(QStringLiteral("window.MoveTo %1,%2").arg(x).arg(y));
        const QMargins frame = FrameExtents(w);
        if (!HeldByWindowManager(w) && !lingering)
            w->move(x + frame.left(), y + frame.top());
    }
    QRect WorkArea() override { return workArea; }
    qreal ScaleAt(const QPoint &) override { return scale; }

    void place(QWidget *w, const QRect &client)
    {
        fittedLate = false;
        w->move(client.topLeft());
        w->resize(QSize(qCeil(client.width() / scale), qCeil(client.height() / scale)));
    }

    QMap<QWidget *, uint32_t> styles;
    QMargins decorated{4, 26, 4, 4};
    bool tellsFrame = true; // the window manager sets _NET_FRAME_EXTENTS
    bool fullScreenWm = false;
    bool held = false;
    bool slowToMinimise = false;
    // Where set, a full-screen window covers this rectangle, not its home output (weston:
    // the output's real size, whatever mode Xwayland emulates for the game).
    QRect coversRealOutput;
    bool fitsLate = false, fittedLate = false;
    bool leavesLate = false, lingering = false;
    QRect lateClient;
    std::function<void()> sizeChanged, frameChanged;
    QRect home, restore, workArea;
    qreal scale = 1.0;
};


} // namespace fakes
