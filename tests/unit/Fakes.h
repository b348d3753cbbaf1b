#pragma once
// Fakes of the movie player and of the platform services. Every fake writes what it is
// asked into one shared, ordered event log, so a test can check what happened and in which
// order (start-up, mode switches, commands).
#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "platform/Services.h"
#include "shell/player/MoviePlayer.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace fakes {

// The events of one test, in the order they happened. `tap` sees each event as it is
// added, so a test can take a snapshot of other state at that moment.
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
};

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
                   << log.events.join(QStringLiteral("\n  ")).toStdString();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline QString Call(const QString &name, const QString &arg)
{
    return QStringLiteral("player.call %1(%2)").arg(name, arg);
}
inline QString Marker(bool on)
{
    return Call(QStringLiteral("SwitchFullscreenMarker"), on ? QStringLiteral("true") : QStringLiteral("false"));
}
inline QString ModeText(int w, int h, int depth, int freq)
{
    return QStringLiteral("display.Change %1x%2@%3/%4").arg(w).arg(h).arg(depth).arg(freq);
}

class FakePlayer : public MoviePlayer {
public:
    FakePlayer(EventLog &log, QWidget *parent)
        : MoviePlayer(parent), log_(log), widget_(new QWidget(parent)) {}

    QWidget *widget() override { return widget_; }
    QWidget *inputWindow() override { return widget_; }

    void setMovie(const QString &path) override
    {
        log_.add(QStringLiteral("player.setMovie ") + path);
        movie_ = path;
    }
    QString movie() const override { return movie_; }
    void setAllowFullScreen(const QString &value) override
    {
        log_.add(QStringLiteral("player.setAllowFullScreen ") + value);
    }
    void setContainerRect(const QRect &rect) override
    {
        log_.add(QStringLiteral("player.setContainerRect %1,%2 %3x%4")
                     .arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height()));
        rect_ = rect;
    }
    QRect containerRect() const override { return rect_; }

    // Logged as "player.call Name(argument)"; a request not of the invoke form is logged
    // raw. Fails for the names in failFor and for the next failNext calls.
    QString CallFunction(const QString &request) override
    {
        requests << request;
        const auto call = InvokeRequest::Parse(request);
        log_.add(call ? Call(call->name, call->argument) : QStringLiteral("player.call? ") + request);
        if (failNext > 0) {
            --failNext;
            throw HostError(QStringLiteral("the movie did not answer"));
        }
        if (call && failFor.contains(call->name))
            throw HostError(QStringLiteral("no callback \"%1\" is registered").arg(call->name));
        return QStringLiteral("<string>ignored</string>");
    }

    // The answers sent to the movie under one function name, in order.
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

private:
    EventLog &log_;
    QWidget *widget_;
    QString movie_;
    QRect rect_;
};

struct FakeInstanceLock : platform::InstanceLock {
    explicit FakeInstanceLock(EventLog &log) : log(log) {}
    bool AnotherCopyRuns() override
    {
        log.add(QStringLiteral("lock.AnotherCopyRuns"));
        return otherCopy;
    }
    EventLog &log;
    bool otherCopy = false;
};

struct FakeUserInterface : platform::UserInterface {
    explicit FakeUserInterface(EventLog &log) : log(log) {}
    void ShowMessage(const QString &caption, const QString &text) override
    {
        log.add(QStringLiteral("ui.ShowMessage %1|%2").arg(caption, text));
    }
    void ReportError(const QString &text) override
    {
        log.add(QStringLiteral("ui.ReportError ") + text);
        errors << text;
    }
    EventLog &log;
    QStringList errors;
};

struct FakeProcess : platform::Process {
    explicit FakeProcess(EventLog &log) : log(log) {}
    void EndNow(int) override
    {
        log.add(QStringLiteral("process.EndNow"));
        ++ends;
    }
    EventLog &log;
    int ends = 0;
};

struct FakeScreenSaver : platform::ScreenSaver {
    explicit FakeScreenSaver(EventLog &log) : log(log) {}
    bool IsActive() override
    {
        log.add(QStringLiteral("screensaver.IsActive"));
        return active;
    }
    bool SetActive(bool on) override
    {
        log.add(QStringLiteral("screensaver.SetActive ") + (on ? QStringLiteral("true") : QStringLiteral("false")));
        active = on;
        return true;
    }
    EventLog &log;
    bool active = false;
};

struct FakeUrlOpener : platform::UrlOpener {
    explicit FakeUrlOpener(EventLog &log) : log(log) {}
    bool Open(const QString &address) override
    {
        log.add(QStringLiteral("url.Open ") + address);
        return true;
    }
    EventLog &log;
};

// The primary display: a current mode that EnumCurrent reads and that ChangeTemporarily
// replaces (the display takes every mode it is given).
struct FakeDisplayModes : platform::DisplayModes {
    explicit FakeDisplayModes(EventLog &log) : log(log) {}

    void setDesktop(int w, int h, int depth, int freq)
    {
        current = {};
        current.dmPelsWidth = uint32_t(w);
        current.dmPelsHeight = uint32_t(h);
        current.dmBitsPerPel = uint32_t(depth);
        current.dmDisplayFrequency = uint32_t(freq);
        current.dmFields = 0x00180000; // what an enumeration leaves there
        current.platformData = QByteArrayLiteral("desktop-mode");
    }
    QSize size() const { return QSize(int(current.dmPelsWidth), int(current.dmPelsHeight)); }

    bool EnumCurrent(platform::DisplayModeRecord &record) override
    {
        log.add(QStringLiteral("display.Enum"));
        if (enumFails)
            return false;
        record = current;
        return true;
    }
    bool ChangeTemporarily(const platform::DisplayModeRecord &record) override
    {
        log.add(ModeText(int(record.dmPelsWidth), int(record.dmPelsHeight),
                         int(record.dmBitsPerPel), int(record.dmDisplayFrequency)));
        changes.push_back(record);
        current = record;
        return true;
    }

    EventLog &log;
    platform::DisplayModeRecord current;
    std::vector<platform::DisplayModeRecord> changes;
    bool enumFails = false;
};

// The window system: a style word per window (the caption bits give the window a frame of
// `decorated`, without them it has none) and the window's real position.
struct FakeWindowSystem : platform::WindowSystem {
    static constexpr uint32_t Caption = 0x00C00000;
    static constexpr uint32_t OverlappedWindow = 0x16CF0000; // caption, frame, buttons, visible

    explicit FakeWindowSystem(EventLog &log) : log(log) {}

    uint32_t styleOf(QWidget *w) const { return styles.value(w, OverlappedWindow); }

    uint32_t GetWindowStyle(QWidget *window) override
    {
        log.add(QStringLiteral("window.GetStyle"));
        return styleOf(window);
    }
    void SetWindowStyle(QWidget *window, uint32_t style) override
    {
        log.add(QStringLiteral("window.SetStyle 0x%1").arg(style, 8, 16, QChar(u'0')));
        styles[window] = style;
    }
    void FrameChanged(QWidget *) override { log.add(QStringLiteral("window.FrameChanged")); }
    QMargins FrameExtents(QWidget *window) override
    {
        return (styleOf(window) & Caption) == Caption ? decorated : QMargins();
    }
    QMargins DecoratedFrameExtents(QWidget *) override { return decorated; }
    void MoveTo(QWidget *window, int x, int y) override
    {
        log.add(QStringLiteral("window.MoveTo %1,%2").arg(x).arg(y));
        window->move(x, y);
    }

    EventLog &log;
    QMap<QWidget *, uint32_t> styles;
    QMargins decorated{4, 26, 4, 4};
};

} // namespace fakes
