#include "shell/player/RufflePlayer.h"

#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "bridge/core/ProtocolTrace.h"
#include "shell/player/AppScheme.h"
#include "shell/player/PageBridge.h"
#include "shell/player/PlayerPage.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

static void InitPageResources()
{
    // The page lives in a static library's resources, which must be registered by hand.
    Q_INIT_RESOURCE(page);
}

RufflePlayer::RufflePlayer(const QString &ruffleDir, QWidget *parent)
    : MoviePlayer(parent), ruffleDir_(ruffleDir), properties_(RuffleConfig::Defaults())
{
    InitPageResources();
    // A profile of our own that keeps nothing on disk: the game's data lives in the save
    // folder, never in the browser's storage.
    profile_ = new QWebEngineProfile(this);
    scheme_ = new AppSchemeHandler(ruffleDir_, this);
    scheme_->setConfigSource([this] { return configJson(); });
    profile_->installUrlSchemeHandler(AppScheme::Name, scheme_);

    view_ = new QWebEngineView(parent);
    view_->setObjectName("flashPlayer");
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    page_ = new PlayerPage(profile_, view_);
    page_->setBackgroundColor(Qt::black);
    auto *settings = page_->settings();
    settings->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    view_->setPage(page_);

    bridge_ = new PageBridge([this](const QString &c, const QString &a) { onPageCommand(c, a); },
                             [this](const QString &s, const QString &d) { onPlayerState(s, d); },
                             this);
    channel_ = new QWebChannel(this);
    channel_->registerObject(QStringLiteral("host"), bridge_);
    page_->setWebChannel(channel_);

    connect(page_, &PlayerPage::externalLink, this, &RufflePlayer::externalLinkRequested);
    connect(page_, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                onRendererGone(QStringLiteral("the movie player's page process ended "
                                              "(status %1, exit code %2)")
                                   .arg(int(status))
                                   .arg(exitCode));
            });
}

RufflePlayer::~RufflePlayer()
{
    // The page must go before its profile.
    delete view_;
}

QWidget *RufflePlayer::widget()
{
    return view_;
}

QByteArray RufflePlayer::configJson() const
{
    QJsonObject config = RuffleConfig::FromProperties(properties_, AppScheme::RufflePath);
    config["url"] = AppScheme::MovieUrl;
    return QJsonDocument(config).toJson(QJsonDocument::Compact);
}

void RufflePlayer::setMovie(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw HostError(QStringLiteral("The movie file \"%1\" does not exist.").arg(path));
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        throw HostError(QStringLiteral("The movie file \"%1\" cannot be read: %2")
                            .arg(path, info.isFile() ? file.errorString()
                                                     : QStringLiteral("not a file")));
    file.close();
    moviePath_ = path;
    properties_["Movie"] = path;
    scheme_->setMovie(path);
    state_ = State::Loading;
    failure_.clear();
    page_->load(QUrl(QString::fromLatin1(AppScheme::PageUrl)));
}

void RufflePlayer::setAllowFullScreen(const QString &value)
{
    properties_["AllowFullScreen"] = value;
}

void RufflePlayer::setContainerRect(const QRect &rect)
{
    view_->setGeometry(rect);
}

QRect RufflePlayer::containerRect() const
{
    return view_->geometry();
}

QWidget *RufflePlayer::inputWindow()
{
    // The view's focus proxy receives the mouse and keyboard input; it carries the class
    // name the player's own window is known by.
    QWidget *input = view_->focusProxy();
    if (input)
        input->setObjectName(QStringLiteral("MacromediaFlashPlayerActiveX"));
    return input;
}

void RufflePlayer::onPageCommand(const QString &command, const QString &args)
{
    pendingCommands_.enqueue({command, args});
    dispatchCommands();
}

void RufflePlayer::dispatchCommands()
{
    // Commands are handled one at a time, in the order the movie raised them: a command that
    // arrives while another is handled, or while a call into the movie is awaited, waits
    // its turn. So the host never handles commands inside one another, however many the
    // movie sends, and each runs to its end before the next begins.
    if (dispatching_ || waiting_ > 0)
        return;
    dispatching_ = true;
    while (!pendingCommands_.isEmpty()) {
        const auto [command, args] = pendingCommands_.dequeue();
        emit FSCommand(command, args);
    }
    dispatching_ = false;
}

void RufflePlayer::onPlayerState(const QString &state, const QString &detail)
{
    if (state == u"ready" && state_ == State::Loading) {
        state_ = State::Ready;
        // Deliver the calls held while the movie was loading, in order. A failure of one
        // is reported and does not stop the others.
        while (!held_.isEmpty() && state_ == State::Ready) {
            const QString request = held_.takeFirst();
            try {
                deliver(request);
            } catch (const HostError &error) {
                emit failure(error.message());
            }
        }
    } else if (state == u"failed" && state_ != State::Failed) {
        fail(QStringLiteral("The movie \"%1\" could not be played: %2").arg(moviePath_, detail));
    }
}

void RufflePlayer::onRendererGone(const QString &why)
{
    fail(why);
}

void RufflePlayer::fail(const QString &message)
{
    state_ = State::Failed;
    failure_ = message;
    const QStringList dropped = std::exchange(held_, {});
    for (const QString &request : dropped) {
        const auto call = InvokeRequest::Parse(request);
        ProtocolTrace::Record(ProtocolTrace::Direction::Call, call ? call->name : request,
                              call ? call->argument : QString(), "error: " + message);
    }
    emit failure(message);
}

QString RufflePlayer::CallFunction(const QString &request)
{
    switch (state_) {
    case State::Idle:
        throw HostError(QStringLiteral("No movie is loaded in the player."));
    case State::Failed:
        throw HostError(failure_);
    case State::Loading:
        held_.append(request);
        return {};
    case State::Ready:
        break;
    }
    return deliver(request);
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
    struct Outcome {
        bool done = false;
        QVariant value;
    };
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    page_->runJavaScript(script, [outcome, guard](const QVariant &value) {
        outcome->done = true;
        outcome->value = value;
        if (guard)
            guard->quit();
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &MoviePlayer::failure, &loop, &QEventLoop::quit);
    timeout.start(callTimeoutMs_);
    ++waiting_;
    if (!outcome->done)
        loop.exec();
    --waiting_;
    if (waiting_ == 0 && !pendingCommands_.isEmpty())
        QTimer::singleShot(0, this, &RufflePlayer::dispatchCommands);

    if (!outcome->done) {
        const QString message =
            state_ == State::Failed
                ? failure_
                : QStringLiteral("The movie did not answer the call \"%1\" within %2 ms.")
                      .arg(name)
                      .arg(callTimeoutMs_);
        trace("error: " + message);
        throw HostError(message);
    }
    const QString answer = outcome->value.toString();
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
