// Calls into the movie: held until the movie has loaded and registered the function they
// name, then delivered in order; each delivered call waits for the page's answer.
#include "shell/player/RufflePlayer.h"

#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "bridge/core/ProtocolTrace.h"
#include "shell/player/CallWait.h"
#include "shell/player/PlayerPage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QWebEnginePage>

#include <csignal>

namespace {

QString NameOf(const QString &request)
{
    const auto call = InvokeRequest::Parse(request);
    return call ? call->name : QString();
}

} // namespace

void RufflePlayer::onMovieLoaded(const QStringList &names)
{
    state_ = State::Playing;
    loadBound_.stop();
    registrationBound_.start();
    onNamesRegistered(names);
}

void RufflePlayer::onNamesRegistered(const QStringList &names)
{
    for (const QString &name : names)
        registered_.insert(name);
    deliverHeld();
}

void RufflePlayer::onRegistrationBound()
{
    // From now on nothing waits for a name: the calls held so far go to the movie, where a
    // call to a function it never registered fails at once.
    boundPassed_ = true;
    deliverHeld();
}

bool RufflePlayer::mustHold(const QString &request) const
{
    if (state_ == State::Loading || !held_.isEmpty())
        return true; // not loaded yet, or behind calls that wait
    if (boundPassed_)
        return false;
    // A request of another form goes to the page, which refuses it.
    const QString name = NameOf(request);
    return !name.isEmpty() && !registered_.contains(name);
}

QString RufflePlayer::CallFunction(const QString &request)
{
    switch (state_) {
    case State::Idle:
        throw HostError(QStringLiteral("No movie is loaded in the player."));
    case State::Failed:
        throw HostError(failure_);
    case State::Loading:
    case State::Playing:
        break;
    }
    if (mustHold(request)) {
        held_.append(request);
        return {};
    }
    return deliver(request);
}

void RufflePlayer::deliverHeld()
{
    // Delivery may wait for the page, and meanwhile names, the bound or more calls may
    // arrive: they are taken up by the loop that is already running.
    if (delivering_)
        return;
    delivering_ = true;
    QStringList failures;
    while (!held_.isEmpty() && state_ == State::Playing) {
        const QString name = NameOf(held_.first());
        if (!boundPassed_ && !name.isEmpty() && !registered_.contains(name))
            break;
        try {
            deliver(held_.takeFirst());
        } catch (const HostError &error) {
            failures << error.message();
        }
    }
    delivering_ = false;
    // The calls that failed together are reported together.
    failures.removeDuplicates();
    if (!failures.isEmpty() && state_ == State::Playing)
        emit failure(failures.join(u'\n'));
}

QString RufflePlayer::deliver(const QString &request)
{
    const auto call = InvokeRequest::Parse(request);
    const QString name = call ? call->name : request;
    const QString argument = call ? call->argument : QString();
    auto trace = [&](const QString &outcome) {
        ProtocolTrace::Record(ProtocolTrace::Direction::Call, name, argument, outcome);
    };

    const QString script = QStringLiteral("window.lanternfallInvoke(%1)")
                               .arg(QString::fromUtf8(
                                   QJsonDocument(QJsonArray{request}).toJson(QJsonDocument::Compact)
                                       .mid(1)
                                       .chopped(1)));
    CallWait wait;
    connect(this, &RufflePlayer::stopped, &wait, &CallWait::stop);
    page_->runJavaScript(script, [answer = wait.answerSink()](const QVariant &value) {
        answer(value.toString());
    });
    ++waiting_;
    const CallWait::End end = wait.wait(PageHangMs);
    --waiting_;
    if (waiting_ == 0 && !pendingCommands_.isEmpty())
        QTimer::singleShot(0, this, &RufflePlayer::dispatchCommands);

    if (end == CallWait::End::Unanswered)
        endHungPage(name);
    if (end != CallWait::End::Answered) {
        // The page is gone (or was ended above): no answer comes, and nothing of it runs later.
        trace("error: " + failure_);
        throw HostError(failure_);
    }
    const QString answer = wait.answer();
    if (!answer.startsWith(u"ok:")) {
        const QString message = answer.startsWith(u"error:")
                                    ? answer.mid(6)
                                    : QStringLiteral("The player page gave no answer to \"%1\".")
                                          .arg(name);
        trace("error: " + message);
        throw HostError(message);
    }
    trace("ok");
    return answer.mid(3);
}

void RufflePlayer::endHungPage(const QString &name)
{
    // A page that has not answered for so long is stuck (it is twice the player's own script
    // limit). Its process is ended, so that no call the host gives up on here runs later;
    // everything held is dropped with the player.
    const QString message =
        QStringLiteral("The movie player's page stopped responding: it did not answer the call "
                       "\"%1\" in %2 s and was ended.")
            .arg(name)
            .arg(PageHangMs / 1000);
    if (const qint64 pid = page_->renderProcessPid(); pid > 0)
        ::kill(pid_t(pid), SIGKILL);
    stopPlayer(message);
}
