#include "shell/player/CallWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

struct CallWait::State {
    bool answered = false;
    bool stopped = false;
    QString answer;
    QPointer<QEventLoop> loop;
};

CallWait::CallWait() : state_(std::make_shared<State>()) {}

CallWait::~CallWait() = default;

std::function<void(const QString &)> CallWait::answerSink() const
{
    return [state = state_](const QString &answer) {
        if (state->answered || state->stopped)
            return;
        state->answered = true;
        state->answer = answer;
        if (state->loop)
            state->loop->quit();
    };
}

void CallWait::stop()
{
    if (state_->answered || state_->stopped)
        return;
    state_->stopped = true;
    if (state_->loop)
        state_->loop->quit();
}

CallWait::End CallWait::wait(int boundMs)
{
    if (!state_->answered && !state_->stopped) {
        QEventLoop loop;
        state_->loop = &loop;
        QTimer bound;
        bound.setSingleShot(true);
        connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        bound.start(boundMs);
        // Before each sleep of the loop, what Qt has queued is handed out. Measured: in a wait
        // that runs inside Qt's own delivery of a queued event (as every command does), Qt
        // 6.4's glib dispatcher sometimes slept while an event stayed queued; the one that
        // asks the engine to run its pending work is posted once until it runs, so the page's
        // answer, and the page itself, waited until something else woke the loop (the old
        // 10 s bound, under load several times a minute).
        const auto flush = connect(QAbstractEventDispatcher::instance(),
                                   &QAbstractEventDispatcher::aboutToBlock, &loop,
                                   [] { QCoreApplication::sendPostedEvents(); });
        loop.exec();
        disconnect(flush);
        state_->loop = nullptr;
    }
    if (state_->answered)
        return End::Answered;
    return state_->stopped ? End::Stopped : End::Unanswered;
}

QString CallWait::answer() const
{
    return state_->answer;
}
