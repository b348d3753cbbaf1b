// The invoke request: the exact text handed to the player, and taking it apart again by
// its framing, whatever markup the argument holds. And the wait for a call's answer.
#include "Fakes.h"

#include "bridge/core/InvokeRequest.h"
#include "shell/player/CallWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <optional>
#include <thread>

namespace {

const QString HighScores = QStringLiteral(
    "<highscores><users><0>Mr.Morrow</0></users><times><0>360000</0></times></highscores>");

struct BuildCase {
    const char *label;
    friend void PrintTo(const BuildCase &c, std::ostream *os) { *os << c.label; }
    QString name;
    QString argument;
    QString expected;
};

class InvokeRequestBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(InvokeRequestBuild, IsTheFivePiecesUnescaped)
{
    const BuildCase &c = GetParam();
    EXPECT_EQ(InvokeRequest::Build(c.name, c.argument), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InvokeRequestBuild,
    ::testing::Values(
        BuildCase{"Plain", "notifyGame", "lostFocus",
                  "<invoke name=\"notifyGame\" returntype=\"void\"><arguments><string>lostFocus"
                  "</string></arguments></invoke>"},
        BuildCase{"EmptyArgument", "CloseRequested", "",
                  "<invoke name=\"CloseRequested\" returntype=\"void\"><arguments><string>"
                  "</string></arguments></invoke>"},
        BuildCase{"MarkupArgument", "HSReadComplete", HighScores,
                  "<invoke name=\"HSReadComplete\" returntype=\"void\"><arguments><string>" +
                      HighScores + "</string></arguments></invoke>"},
        BuildCase{"CrLfKept", "LevelLoadComplete", "abc\r\n",
                  "<invoke name=\"LevelLoadComplete\" returntype=\"void\"><arguments><string>"
                  "abc\r\n</string></arguments></invoke>"},
        BuildCase{"QuotesAndAmpersands", "a\"b", "x & \"y\" &amp; 'z' <",
                  "<invoke name=\"a\"b\" returntype=\"void\"><arguments><string>"
                  "x & \"y\" &amp; 'z' <</string></arguments></invoke>"}),
    fakes::ByLabel);

TEST(InvokeRequestParse, RoundTripsWhateverTheArgumentHolds)
{
    const QString middle = InvokeRequest::Middle.toString();
    const QString suffix = InvokeRequest::Suffix.toString();
    const QStringList arguments = {
        "",
        "lostFocus",
        HighScores,
        "abc\r\n",
        "a\"b&c",
        "</string></arguments></invoke>",
        middle,
        "x" + middle + "y",
        suffix + suffix,
        QString::fromUtf8("Ä \\ ☃"),
    };
    for (const QString &argument : arguments) {
        const auto call =
            InvokeRequest::Parse(InvokeRequest::Build("PlayerLoadComplete", argument));
        ASSERT_TRUE(call) << argument.toStdString();
        EXPECT_EQ(call->name, "PlayerLoadComplete");
        EXPECT_EQ(call->argument, argument);
    }
}

TEST(InvokeRequestParse, RefusesOtherTexts)
{
    for (const QString &text :
         {QString(), QString("<invoke name=\"x\"></invoke>"),
          QString("<invoke name=\"x</string></arguments></invoke>"),
          QString("<invoke name=\"x\" returntype=\"void\"><arguments><string>y")})
        EXPECT_FALSE(InvokeRequest::Parse(text)) << text.toStdString();
}

// The wait runs as each command's does, inside Qt's delivery of a queued event; the page's
// answer comes as the engine's does, queued from another thread. A slow answer is the
// outcome; the player stopping ends the wait; only a page silent for the whole bound does,
// and an answer after the end is dropped. Timers keep running meanwhile.
struct WaitCase {
    const char *label;
    int answerAfterMs; // -1: never
    int stopAfterMs;   // -1: never
    int boundMs;
    CallWait::End end;
};

class CallWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(CallWaitTest, EndsOnlyByTheAnswerTheStopOrTheBound)
{
    const WaitCase c = GetParam();
    auto wait = std::make_unique<CallWait>();
    std::thread page;
    if (c.answerAfterMs >= 0)
        page = std::thread([sink = wait->answerSink(), after = c.answerAfterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(after));
            QMetaObject::invokeMethod(qApp, [sink] { sink(QStringLiteral("ok:level")); });
        });
    if (c.stopAfterMs >= 0)
        QTimer::singleShot(c.stopAfterMs, wait.get(), &CallWait::stop);
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(20);

    std::optional<CallWait::End> end;
    QElapsedTimer took;
    took.start();
    QMetaObject::invokeMethod(qApp, [&] { end = wait->wait(c.boundMs); }, Qt::QueuedConnection);
    while (!end && took.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(end);
    EXPECT_EQ(*end, c.end);
    EXPECT_EQ(wait->answer(), c.end == CallWait::End::Answered ? "ok:level" : "");
    EXPECT_LT(took.elapsed(), c.boundMs + 2000);
    EXPECT_GT(ticks, 2) << "timers ran while the call waited";
    if (page.joinable())
        page.join();
    // An answer after the end, even after the wait is gone, changes nothing.
    const auto sink = wait->answerSink();
    wait.reset();
    sink(QStringLiteral("ok:late"));
    QCoreApplication::processEvents();
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallWaitTest,
    ::testing::Values(WaitCase{"SlowAnswer", 1500, -1, 10000, CallWait::End::Answered},
                      WaitCase{"PlayerStoppedFirst", 600, 150, 10000, CallWait::End::Stopped},
                      WaitCase{"SilentPage", -1, -1, 400, CallWait::End::Unanswered}),
    fakes::ByLabel);

} // namespace
