// The session-bus inhibit when the bus or the service is missing or hangs: the caller is never
// held up, and the failure is noted once. (Held and given back through a real bus and service:
// tests/e2e/test_screensaver_inhibit.py.)
#include "platform/dbus/DBusScreenSaverInhibit.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString Reason = QStringLiteral("Playing in full screen");

// Polls (with the event loop turning) until the condition holds; false at the deadline.
template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::usleep(5000);
    }
    return true;
}

class ScreenSaverInhibitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        savedAddress_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", dir_.path().toUtf8()); // holds no user bus
    }
    void TearDown() override
    {
        if (listener_ >= 0)
            ::close(listener_);
        inhibit_.reset();
        for (QProcess *p : {&service_, &bus_}) {
            p->kill();
            p->waitForFinished(5000);
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress_);
        qputenv("XDG_RUNTIME_DIR", savedRuntime_);
    }

    // A private session bus: the standard session policy, and no service files, so nothing
    // is started on demand. The inhibit is told of it through the environment.
    void startBus()
    {
        const QString config = dir_.filePath("bus.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                  "<auth>EXTERNAL</auth><policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                  "</busconfig>")
                       .arg(dir_.path())
                       .toUtf8());
        file.close();
        bus_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"});
        ASSERT_TRUE(bus_.waitForReadyRead(10000));
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    }
    void startService(const QStringList &arguments = {})
    {
        service_.start(LF_TEST_SERVICE, arguments);
        ASSERT_TRUE(service_.waitForReadyRead(10000)) << service_.readAllStandardError().data();
        ASSERT_EQ(service_.readLine().trimmed(), "ready");
    }
    // The session bus is a socket that takes connections and never says a word.
    void listenMute()
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = dir_.filePath("mute").toUtf8();
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener_, 8), 0);
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);
    }
    void makeInhibit(int replyTimeoutMs = 10000)
    {
        inhibit_ = std::make_unique<platform::DBusScreenSaverInhibit>(
            "Lanternfall",
            [this](const QString &text) {
                QMutexLocker lock(&notesMutex_);
                notes_ << text;
            },
            replyTimeoutMs);
    }
    QStringList notes()
    {
        QMutexLocker lock(&notesMutex_);
        return notes_;
    }

    QTemporaryDir dir_;
    QProcess bus_, service_;
    QString address_;
    std::unique_ptr<platform::DBusScreenSaverInhibit> inhibit_;
    QMutex notesMutex_;
    QStringList notes_;
    QByteArray savedAddress_, savedRuntime_;
    int listener_ = -1;
};

struct FailureCase {
    const char *label;
    friend void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.label; }
    enum { NoBus, NoBusSettled, NothingListens, BusNeverAnswers, NoService, ServiceHangs } kind;
    const char *noted;
};

class InhibitFailure : public ScreenSaverInhibitTest,
                       public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InhibitFailure, IsNotedOnceAndNeverHoldsUpTheCaller)
{
    const FailureCase &c = GetParam();
    if (c.kind == FailureCase::NoBus || c.kind == FailureCase::NoBusSettled) {
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (c.kind == FailureCase::NoBusSettled) // as main() leaves it: where no bus can be
            platform::SettleSessionBusAddress();
    } else if (c.kind == FailureCase::NothingListens) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir_.filePath("none").toUtf8());
    } else if (c.kind == FailureCase::BusNeverAnswers) {
        listenMute();
    } else {
        startBus();
        if (c.kind == FailureCase::ServiceHangs)
            startService({"--hang"});
    }
    makeInhibit(300);

    qint64 longest = 0;
    QElapsedTimer timer;
    for (bool hold : {true, false, true}) {
        timer.start();
        hold ? inhibit_->Hold(Reason) : inhibit_->Release();
        longest = std::max(longest, timer.nsecsElapsed());
    }
    std::printf("[ measured ] longest Hold/Release call: %.3f ms\n", longest / 1e6);
    EXPECT_LT(longest, 50'000'000) << "the caller waited for the bus";

    if (listener_ >= 0) {
        // Connecting to it blocks (in libdbus, without end) until the socket goes away.
        EXPECT_FALSE(WaitUntil([&] { return !notes().isEmpty(); }, 500));
        ::close(std::exchange(listener_, -1));
    }
    ASSERT_TRUE(WaitUntil([&] { return !notes().isEmpty(); }));
    inhibit_->Flush(5000); // the second Hold has been tried too
    ASSERT_EQ(notes().size(), 1) << notes().join("\n").toStdString();
    EXPECT_TRUE(notes()[0].contains(QLatin1String(c.noted))) << notes()[0].toStdString();
    EXPECT_TRUE(notes()[0].endsWith("the desktop's own screen saver is not held off"));
}

TEST_F(ScreenSaverInhibitTest, TellsWhetherADesktopScreenSaverRunsWithinItsBound)
{
    startBus();
    makeInhibit();
    EXPECT_FALSE(inhibit_->DesktopScreenSaverRuns(5000)) << "no service owns the name yet";
    startService();
    EXPECT_TRUE(inhibit_->DesktopScreenSaverRuns(5000));

    // A bus that never answers: "no" at the bound, not a start that hangs.
    listenMute();
    makeInhibit();
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(inhibit_->DesktopScreenSaverRuns(300));
    EXPECT_LT(timer.elapsed(), 2000);
    ::close(std::exchange(listener_, -1)); // lets the stuck connection attempt end
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InhibitFailure,
    ::testing::Values(
        FailureCase{"NoBus", FailureCase::NoBus, "no session bus"},
        FailureCase{"NoBusSettled", FailureCase::NoBusSettled, "no session bus"},
        FailureCase{"NothingListens", FailureCase::NothingListens, "cannot connect"},
        FailureCase{"BusNeverAnswers", FailureCase::BusNeverAnswers, "cannot connect"},
        FailureCase{"NoService", FailureCase::NoService, "ServiceUnknown"},
        FailureCase{"ServiceHangs", FailureCase::ServiceHangs, "NoReply"}),
    [](const auto &info) { return std::string(info.param.label); });

} // namespace
