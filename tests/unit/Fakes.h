#pragma once
// Fakes of the movie player and of the platform services. Every fake writes what it is
// asked into one shared, ordered event log, so a test can check what happened and in which
// order (start-up, mode switches, commands).
#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "input/RightClickModule2.h"
#include "platform/Services.h"
#include "shell/GameSettings.h"
#include "shell/player/MoviePlayer.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <QtMath>

#include <functional>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace fakes {

// The events of one test, in order. `tap` sees each event as it is added, so a test can
// take a snapshot of other state at that moment.
struct EventLog {
    QStringList events;
    std::function<void(const QString &)> tap;

    void add(const QString &event)
    {
        events << event;
        if (tap)
            tap(event);
    }
    void clear() { events.clear(); }
    QStringList starting(const QString &prefix) const
    {
        QStringList found;
        for (const QString &e : events)
            if (e.startsWith(prefix))
                found << e;
        return found;
    }
    qsizetype count(const QString &prefix) const { return starting(prefix).size(); }
    std::string dump() const { return events.join(QStringLiteral("\n  ")).toStdString(); }
};

// Names the cases of a parameterised test by their `label`.
inline constexpr auto ByLabel = [](const auto &info) { return std::string(info.param.label); };

// True when `expected` appears in the log in this order (other events may lie between).
inline ::testing::AssertionResult InOrder(const EventLog &log, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &want : expected) {
        while (at < log.events.size() && log.events[at] != want)
            ++at;
        if (at == log.events.size())
            return ::testing::AssertionFailure()
                << "missing or out of order: \"" << want.toStdString() << "\"\nlog:\n  "
                << log.dump();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline QString Flag(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}
inline QString Call(const QString &name, const QString &arg)
{
    return QStringLiteral("player.call %1(%2)").arg(name, arg);
}
inline QString Marker(bool on)
{
    return Call(QStringLiteral("SwitchFullscreenMarker"), Flag(on));
}
inline QString ModeText(int w, int h, int depth, int freq)
{
    return QStringLiteral("display.Change %1x%2@%3/%4").arg(w).arg(h).arg(depth).arg(freq);
}

class FakePlayer : public MoviePlayer {
public:
    FakePlayer(EventLog &log, QWidget *parent)
        : MoviePlayer(parent), log_(log), widget_(new QWidget(parent))
    {
    }

    QWidget *widget() override { return widget_; }
    QWidget *inputWindow() override { return input ? input : widget_; }
    void setMovie(const QString &path) override { log_.add("player.setMovie " + (movie_ = path)); }
    QString movie() const override { return movie_; }
    void setAllowFullScreen(const QString &value) override
    {
        log_.add("player.setAllowFullScreen " + value);
    }
    void setContainerRect(const QRect &r) override
    {
        log_.add(QStringLiteral("player.setContainerRect %1,%2 %3x%4")
                     .arg(r.x())
                     .arg(r.y())
                     .arg(r.width())
                     .arg(r.height()));
        rect_ = r;
    }
    QRect containerRect() const override { return rect_; }

    // Logged as "player.call Name(argument)". Fails for the names in failFor and for the
    // next failNext calls.
    QString CallFunction(const QString &request) override
    {
        requests << request;
        const auto call = InvokeRequest::Parse(request);
        log_.add(call ? Call(call->name, call->argument) : "player.call? " + request);
        if (failNext > 0 && failNext--)
            throw HostError(QStringLiteral("the movie did not answer"));
        if (call && failFor.contains(call->name))
            throw HostError(QStringLiteral("no callback \"%1\" is registered").arg(call->name));
        return QStringLiteral("<string>ignored</string>");
    }

    // The arguments sent to the movie function `name`, in order.
    QStringList answers(const QString &name) const
    {
        QStringList found;
        for (const QString &r : requests)
            if (const auto call = InvokeRequest::Parse(r); call && call->name == name)
                found << call->argument;
        return found;
    }

    QStringList requests;
    QSet<QString> failFor;
    int failNext = 0;
    QWidget *input = nullptr; // the input window when set; the control itself otherwise

private:
    EventLog &log_;
    QWidget *widget_;
    QString movie_;
    QRect rect_;
};

struct Logged {
    explicit Logged(EventLog &log) : log(log) {}
    EventLog &log;
};

struct FakeInstanceLock : Logged, platform::InstanceLock {
    using Logged::Logged;
    bool AnotherCopyRuns() override { return log.add("lock.AnotherCopyRuns"), otherCopy; }
    bool otherCopy = false;
};

struct FakeUserInterface : Logged, platform::UserInterface {
    using Logged::Logged;
    void ShowMessage(const QString &caption, const QString &text) override
    {
        log.add(QStringLiteral("ui.ShowMessage %1|%2").arg(caption, text));
    }
    void ReportError(const QString &text) override
    {
        log.add("ui.ReportError " + text), errors << text;
    }
    QStringList errors;
};

struct FakeProcess : Logged, platform::Process {
    using Logged::Logged;
    void EndNow(int code) override { log.add("process.EndNow"), ++ends, exitCode = code; }
    int ends = 0;
    int exitCode = -1;
};

struct FakeScreenSaver : Logged, platform::ScreenSaver {
    using Logged::Logged;
    bool IsActive() override { return log.add("screensaver.IsActive"), active; }
    bool SetActive(bool on) override
    {
        return log.add("screensaver.SetActive " + Flag(on)), active = on, true;
    }
    bool active = false;
};

struct FakeUrlOpener : Logged, platform::UrlOpener {
    using Logged::Logged;
    bool Open(const QString &address) override { return log.add("url.Open " + address), accepts; }
    bool accepts = true;
};

struct FakeKeySender : Logged, platform::KeySender {
    using Logged::Logged;
    bool SendSpaceAndBackspace(QWidget *window) override
    {
        return log.add("keys.SpaceAndBackspace"), windows << window, true;
    }
    QList<QWidget *> windows; // where the keys were typed
};

struct FakeScreenSaverInhibit : Logged, platform::ScreenSaverInhibit {
    using Logged::Logged;
    void Hold(const QString &reason) override { log.add("inhibit.Hold " + reason), held = true; }
    void Release() override { log.add("inhibit.Release"), held = false; }
    void Flush(int) override { log.add("inhibit.Flush"); }
    bool DesktopScreenSaverRuns(int) override { return desktopRuns; }
    bool held = false;
    bool desktopRuns = false;
};

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
    QList<platform::Output> outputs;
    QByteArray selected;
};

// The window system: a style word per window (with the caption bits the window has a frame
// of `decorated`, without them none) and the window's real place, in screen pixels: the
// client area's top-left is the widget's position, its size the widget's size times
// `scale` (the desktop's screen pixels per logical pixel). With `fullScreenWm`, it acts as
// an EWMH window manager: a window without its title bar covers its home output and is
// held there, and gets its earlier geometry back with its title bar.
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
            place(w, covered);
        } else if (decoratedNow(w) && held) {
            held = false;
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
        return QRect(w->pos(), w->size() * scale);
    }
    void ResizeClient(QWidget *w, const QSize &size) override
    {
        if (!HeldByWindowManager(w))
            w->resize(QSize(qCeil(size.width() / scale), qCeil(size.height() / scale)));
    }
    void MoveTo(QWidget *w, int x, int y) override
    {
        log.add(QStringLiteral("window.MoveTo %1,%2").arg(x).arg(y));
        const QMargins frame = FrameExtents(w);
        if (!HeldByWindowManager(w))
            w->move(x + frame.left(), y + frame.top());
    }
    QRect WorkArea() override { return workArea; }
    qreal ScaleAt(const QPoint &) override { return scale; }

    void place(QWidget *w, const QRect &client)
    {
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
    QRect home, restore, workArea;
    qreal scale = 1.0;
};

// Every platform service faked, all writing into one log.
struct FakeServices {
    explicit FakeServices(EventLog &log)
        : lock(log), ui(log), process(log), screenSaver(log), urlOpener(log), display(log),
          windowSystem(log), keySender(log), inhibit(log)
    {
        display.setDesktop(1920, 1080, 32, 60);
    }

    platform::Services services()
    {
        return {.instanceLock = &lock,
                .ui = &ui,
                .process = &process,
                .screenSaver = &screenSaver,
                .urlOpener = &urlOpener,
                .displayModes = &display,
                .windowSystem = &windowSystem,
                .keySender = &keySender,
                .screenSaverInhibit = &inhibit};
    }

    FakeInstanceLock lock;
    FakeUserInterface ui;
    FakeProcess process;
    FakeScreenSaver screenSaver;
    FakeUrlOpener urlOpener;
    FakeDisplayModes display;
    FakeWindowSystem windowSystem;
    FakeKeySender keySender;
    FakeScreenSaverInhibit inhibit;
};

// The module state (settings, focus flags, display modes, player filter) is global: back to
// its values at program start, as a new run of the program would find it.
inline void ResetModuleState()
{
    modChangeRes::Reset();
    RightClickModule2::Reset();
    GameSettings::PortraitDisplay = false;
    GameSettings::GameWidth = 800;
    GameSettings::GameHeight = 600;
    FocusControls::ReturnToFullScreen = false;
    FocusControls::AppActive = false;
}

} // namespace fakes
