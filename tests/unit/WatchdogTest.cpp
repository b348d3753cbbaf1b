// The watchdog against a private Xvfb: a host process (a forked child of the test) changes
// the display mode and switches the screen saver off, then ends in the ways a host can end;
// the test checks with the X server what is given back, and how fast.
#include <gtest/gtest.h>

#include "platform/Watchdog.h"
#include "platform/x11/X11DisplayModes.h"
#include "platform/x11/X11ScreenSaver.h"

#include <QTemporaryDir>

#include <functional>

#include "XvfbServer.h"

using namespace testing_x11;
namespace Watchdog = platform::Watchdog;

namespace {

constexpr int DesktopTimeout = 300;

platform::DisplayModeRecord StageMode()
{
    platform::DisplayModeRecord r;
    r.dmPelsWidth = 800;
    r.dmPelsHeight = 600;
    r.dmBitsPerPel = 32;
    r.dmDisplayFrequency = 60;
    r.dmFields = 0x005C0000;
    return r;
}

QSize RootSize(Display *d)
{
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &w, &h, &border, &depth);
    return QSize(int(w), int(h));
}

// A host: a forked child that runs a body, reports one line to the test and may wait for
// the test's go-ahead before it ends as the body says.
class Host {
public:
    // The body gets a function that sends the report line and waits for the go-ahead.
    explicit Host(const std::function<void(const std::function<void(QByteArray)> &)> &body)
    {
        int report[2], go[2];
        if (::pipe(report) != 0 || ::pipe(go) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(report[0]);
            ::close(go[1]);
            body([&](QByteArray line) {
                line += '\n';
                if (::write(report[1], line.constData(), size_t(line.size())) < 0)
                    ::_exit(90);
                char c;
                if (::read(go[0], &c, 1) != 1)
                    ::_exit(91); // the test is gone
            });
            ::_exit(0);
        }
        ::close(report[1]);
        ::close(go[0]);
        reportFd_ = report[0];
        goFd_ = go[1];
    }

    ~Host()
    {
        if (pid_ > 0 && !collected_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (reportFd_ >= 0)
            ::close(reportFd_);
        if (goFd_ >= 0)
            ::close(goFd_);
    }

    pid_t Pid() const { return pid_; }

    // The report line's words; empty when the host ended without one.
    QList<QByteArray> Report()
    {
        QByteArray line;
        pollfd p{reportFd_, POLLIN, 0};
        while (!line.endsWith('\n') && ::poll(&p, 1, 10000) > 0) {
            char c;
            if (::read(reportFd_, &c, 1) != 1)
                break;
            line.append(c);
        }
        return line.trimmed().split(' ');
    }

    void Go() { (void)!::write(goFd_, "g", 1); }

    // Waits for the host to end; its wait status.
    int Collect()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        collected_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    int reportFd_ = -1;
    int goFd_ = -1;
    bool collected_ = false;
};

class WatchdogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XvfbServer::Installed())
            GTEST_SKIP() << "Xvfb and xrandr are not installed";
        ASSERT_TRUE(runtime.isValid());
        savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(server.GiveRealTimedDesktop());
        display = XOpenDisplay(server.Name().constData());
        ASSERT_NE(display, nullptr);
        XSetScreenSaver(display, DesktopTimeout, 0, DefaultBlanking, DefaultExposures);
        XSync(display, False);
    }

    void TearDown() override
    {
        if (display)
            XCloseDisplay(display);
        if (!savedRuntime.isNull())
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

    // In the host: the watchdog, then the stage mode and the screen saver off, as full-screen
    // mode does. Returns the host's own connection.
    Display *EnterFullScreen()
    {
        Watchdog::Start();
        Display *d = XOpenDisplay(server.Name().constData());
        if (!d)
            ::_exit(80);
        platform::X11ScreenSaver saver(d);
        saver.SetActive(false);
        static platform::X11DisplayModes *modes = nullptr;
        modes = new platform::X11DisplayModes(d); // lives as long as the host
        if (!modes->ChangeTemporarily(StageMode()))
            ::_exit(81);
        return d;
    }

    bool DesktopIsBack()
    {
        return RootSize(display) == QSize(1920, 1080)
               && ScreenSaverTimeout(display) == DesktopTimeout;
    }

    void ExpectFullScreenShown()
    {
        EXPECT_EQ(RootSize(display), QSize(800, 600));
        EXPECT_EQ(ScreenSaverTimeout(display), 0);
    }

    // After the host ended: the desktop comes back within a second, and the watchdog ends.
    void ExpectDesktopBackWithinASecond(pid_t guardian)
    {
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(WaitUntil([&] { return DesktopIsBack(); }, 1000))
            << "after " << timer.elapsed() << " ms the display is "
            << RootSize(display).width() << 'x' << RootSize(display).height()
            << " and the screen-saver timeout " << ScreenSaverTimeout(display);
        EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
        EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(guardian); }, 2000));
        EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
        EXPECT_FALSE(QFile::exists(Watchdog::StateFilePath()));
    }

    QTemporaryDir runtime;
    QByteArray savedRuntime;
    XvfbServer server;
    Display *display = nullptr;
};

// --- However the host ends, the guardian gives the desktop back ------------------------------

TEST_F(WatchdogTest, AHostKilledOutrightHasTheDesktopAndTheScreenSaverBackWithinASecond)
{
    Host host([&](const auto &report) {
        EnterFullScreen();
        report(QByteArray::number(Watchdog::GuardianPid()));
        ::raise(SIGKILL);
    });
    const pid_t guardian = host.Report().value(0).toInt();
    ASSERT_GT(guardian, 0);
    ExpectFullScreenShown();
    EXPECT_TRUE(QFile::exists(Watchdog::StateFilePath())); // for a start after a worse end
    host.Go();
    const int status = host.Collect();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ExpectDesktopBackWithinASecond(guardian);
}

TEST_F(WatchdogTest, CtrlCOnTheTerminalEndsTheHostAndLeavesTheGuardianToGiveBack)
{
    Host host([&](const auto &report) {
        ::setpgid(0, 0); // a process group of its own, as a job on a terminal has
        Watchdog::InstallSignalHandlers();
        EnterFullScreen();
        report(QByteArray::number(Watchdog::GuardianPid()));
        ::pause();
    });
    const pid_t guardian = host.Report().value(0).toInt();
    ASSERT_GT(guardian, 0);
    ExpectFullScreenShown();
    ASSERT_EQ(::killpg(host.Pid(), SIGINT), 0); // the whole group: host and guardian
    const int status = host.Collect();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT) << status;
    ExpectDesktopBackWithinASecond(guardian);
}

TEST_F(WatchdogTest, TheSignalHandlersEndTheHostAtOnceWith128PlusTheSignal)
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Host host([&](const auto &report) {
            Watchdog::InstallSignalHandlers();
            report("ready");
            ::raise(sig);
            ::_exit(70); // not reached
        });
        EXPECT_EQ(host.Report().value(0), "ready");
        host.Go();
        const int status = host.Collect();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig)
            << "signal " << sig << ", status " << status;
    }
}

// --- What is no longer pending stays as it is ------------------------------------------------

TEST_F(WatchdogTest, WhatTheHostGaveBackItselfIsNotGivenBackAgain)
{
    Host tidy([&](const auto &report) {
        Watchdog::Start();
        Display *d = XOpenDisplay(server.Name().constData());
        // Never destroyed: the host ends with _exit, as "quit" ends it.
        platform::X11DisplayModes &modes = *new platform::X11DisplayModes(d);
        platform::X11ScreenSaver saver(d);
        platform::DisplayModeRecord desktop;
        modes.EnumCurrent(desktop);
        saver.SetActive(false);
        modes.ChangeTemporarily(StageMode());
        modes.ChangeTemporarily(desktop);
        saver.SetActive(true);
        // Then the user switches the screen saver off (and, below, picks another mode).
        XSetScreenSaver(d, 0, 0, DefaultBlanking, DefaultExposures);
        XSync(d, False);
        report(QByteArray::number(Watchdog::GuardianPid()) + ' '
               + (QFile::exists(Watchdog::StateFilePath()) ? "file" : "nofile"));
    });
    const QList<QByteArray> words = tidy.Report();
    const pid_t guardian = words.value(0).toInt();
    ASSERT_GT(guardian, 0);
    EXPECT_EQ(words.value(1), "nofile"); // nothing pending: nothing on disk
    server.Xrandr("--output screen --mode 1920x1080");
    tidy.Go();
    tidy.Collect();
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(guardian); }, 2000));
    EXPECT_EQ(server.ModeInForce(), "1920x1080");
    EXPECT_EQ(ScreenSaverTimeout(display), 0);
    // The mode the host added stayed on the output while it ran; the guardian removed it.
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
}

TEST_F(WatchdogTest, ForgetAllLeavesTheDisplayAsTheHostLeftIt)
{
    Host host([&](const auto &report) {
        EnterFullScreen();
        Watchdog::ForgetAll();
        report(QByteArray::number(Watchdog::GuardianPid()) + ' '
               + (QFile::exists(Watchdog::StateFilePath()) ? "file" : "nofile"));
    });
    const QList<QByteArray> words = host.Report();
    const pid_t guardian = words.value(0).toInt();
    ASSERT_GT(guardian, 0);
    EXPECT_EQ(words.value(1), "nofile");
    host.Go();
    host.Collect();
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(guardian); }, 2000));
    ExpectFullScreenShown();
}

// --- A start after an end that even the guardian did not survive -----------------------------

TEST_F(WatchdogTest, TheNextStartRepairsWhatWasLeftWhenTheGuardianDiedToo)
{
    Host host([&](const auto &report) {
        EnterFullScreen();
        const pid_t guardian = Watchdog::GuardianPid();
        ::kill(guardian, SIGKILL);
        ::waitpid(guardian, nullptr, 0);
        report("ready");
        ::raise(SIGKILL);
    });
    ASSERT_EQ(host.Report().value(0), "ready");
    host.Go();
    host.Collect();
    ExpectFullScreenShown(); // nobody gave anything back
    ASSERT_TRUE(QFile::exists(Watchdog::StateFilePath()));

    Watchdog::RepairAfterUncleanEnd();
    EXPECT_TRUE(DesktopIsBack());
    EXPECT_EQ(server.ModeInForce(), "1920x1080_60.00");
    EXPECT_TRUE(server.ModesNamed(platform::OwnModeSuffix).isEmpty());
    EXPECT_FALSE(QFile::exists(Watchdog::StateFilePath()));
}

TEST_F(WatchdogTest, TheRepairLeavesTheStateOfAHostThatStillRunsAlone)
{
    Host host([&](const auto &report) {
        EnterFullScreen();
        report(QByteArray::number(Watchdog::GuardianPid()));
    });
    const pid_t guardian = host.Report().value(0).toInt();
    ASSERT_GT(guardian, 0);

    Watchdog::RepairAfterUncleanEnd();
    ExpectFullScreenShown();
    EXPECT_TRUE(QFile::exists(Watchdog::StateFilePath()));

    host.Go(); // the host ends normally without giving back: its guardian does
    host.Collect();
    ExpectDesktopBackWithinASecond(guardian);
}

TEST_F(WatchdogTest, WithoutAStateFileTheRepairTouchesNothing)
{
    server.Xrandr("--output screen --mode 1920x1080");
    Watchdog::RepairAfterUncleanEnd();
    EXPECT_EQ(server.ModeInForce(), "1920x1080");
    EXPECT_EQ(ScreenSaverTimeout(display), DesktopTimeout);
}

} // namespace
