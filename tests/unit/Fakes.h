#pragma once
// Fakes of the movie player and of the platform services. Every fake writes what it is
// asked into one shared, ordered event log, so a test can check what happened and in which
// order (start-up, mode switches, commands).
#include "FakeDisplay.h"
#include "FakeLog.h"

namespace fakes {

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
        widget_->setGeometry(r);
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

    // Raises the commands in `waiting` (all of them: the fake takes no time).
    int RunWaitingCommands(int) override
    {
        for (const auto &[command, args] : std::exchange(waiting, {}))
            emit FSCommand(command, args);
        return 0;
    }
    QStringList requests;
    QSet<QString> failFor;
    int failNext = 0;
    QList<QPair<QString, QString>> waiting; // commands raised, waiting their turn
    QWidget *input = nullptr; // the input window when set; the control itself otherwise

private:
    EventLog &log_;
    QWidget *widget_;
    QString movie_;
    QRect rect_;
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
