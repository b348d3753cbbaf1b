#include "shell/player/RufflePlayer.h"

#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "bridge/core/ProtocolTrace.h"
#include "shell/player/AppScheme.h"
#include "shell/player/MovieFile.h"
#include "shell/player/PageBridge.h"
#include "shell/player/PlayerPage.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

static void InitPageResources()
{
    // The page lives in a static library's resources, which must be registered by hand.
    Q_INIT_RESOURCE(page);
}

namespace {

QString Damaged(const QString &movie, const QString &reason)
{
    return QStringLiteral("The movie \"%1\" is not a Flash movie or is damaged: %2.")
        .arg(movie, reason);
}

QString CannotPlay(const QString &movie, const QString &reason)
{
    return QStringLiteral("The movie \"%1\" cannot be played: %2.").arg(movie, reason);
}

QStringList NamesOf(const QString &json)
{
    QStringList names;
    for (const QJsonValue &name : QJsonDocument::fromJson(json.toUtf8()).array())
        names << name.toString();
    return names;
}

} // namespace

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

    loadBound_.setSingleShot(true);
    loadBound_.setInterval(LoadBoundMs);
    connect(&loadBound_, &QTimer::timeout, this, [this] {
        stopPlayer(CannotPlay(moviePath_, QStringLiteral("it did not load within %1 s")
                                              .arg(LoadBoundMs / 1000)));
    });
    registrationBound_.setSingleShot(true);
    registrationBound_.setInterval(RegistrationBoundMs);
    connect(&registrationBound_, &QTimer::timeout, this, &RufflePlayer::onRegistrationBound);

    connect(page_, &PlayerPage::externalLink, this, &RufflePlayer::externalLinkRequested);
    connect(page_, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        // Only our own page counts; a refused link of the movie's ends as a failed load too.
        if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
            info.url() == QUrl(QString::fromLatin1(AppScheme::PageUrl)))
            stopPlayer(CannotPlay(moviePath_, QStringLiteral("the player's page did not load (%1)")
                                                  .arg(info.errorString())));
    });
    connect(page_, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                const QString why = QStringLiteral("the movie player's page process ended "
                                                   "(status %1, exit code %2)")
                                        .arg(int(status))
                                        .arg(exitCode);
                stopPlayer(state_ == State::Loading ? CannotPlay(moviePath_, why) : why);
            });
}

RufflePlayer::~RufflePlayer()
{
    if (movieCheck_.joinable())
        movieCheck_.join();
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
    const QByteArray head = file.read(MovieFile::HeaderBytes);
    file.close();
    if (const QString problem = MovieFile::HeaderProblem(head, info.size()); !problem.isEmpty())
        throw HostError(Damaged(path, problem));
    if (!QFileInfo(ruffleDir_ + QStringLiteral("/ruffle.js")).isFile())
        throw HostError(
            CannotPlay(path, QStringLiteral("the player's files are missing from %1").arg(ruffleDir_)));

    moviePath_ = path;
    properties_["Movie"] = path;
    scheme_->setMovie(path);
    state_ = State::Loading;
    failure_.clear();
    loadBound_.start();
    page_->load(QUrl(QString::fromLatin1(AppScheme::PageUrl)));

    // Unpacking a compressed movie takes a while for a large one: it runs beside the
    // page's loading, and its verdict comes back through the event loop.
    if (movieCheck_.joinable())
        movieCheck_.join();
    movieCheck_ = std::thread([this, path] {
        const QString problem = MovieFile::ContentProblem(path);
        QMetaObject::invokeMethod(this, [this, problem] { onMovieChecked(problem); },
                                  Qt::QueuedConnection);
    });
}

void RufflePlayer::onMovieChecked(const QString &problem)
{
    // A damaged movie fails the start, also when the player began to play what it could.
    if (!problem.isEmpty())
        stopPlayer(Damaged(moviePath_, problem), true);
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
    if (state_ == State::Failed)
        return;
    if (state == u"loaded" && state_ == State::Loading) {
        onMovieLoaded(NamesOf(detail));
    } else if (state == u"registered" && state_ == State::Playing) {
        onNamesRegistered(NamesOf(detail));
    } else if (state == u"unplayable") {
        stopPlayer(Damaged(moviePath_, QStringLiteral("the player cannot read it (%1)").arg(detail)),
                   true);
    } else if (state == u"player") {
        stopPlayer(CannotPlay(moviePath_, QStringLiteral("the player's files in %1 could not be "
                                                         "loaded (%2)")
                                              .arg(ruffleDir_, detail)),
                   true);
    } else if (state == u"failed") {
        stopPlayer(state_ == State::Loading
                       ? CannotPlay(moviePath_, detail)
                       : QStringLiteral("The movie player stopped playing \"%1\": %2.")
                             .arg(moviePath_, detail));
    }
}

void RufflePlayer::stopPlayer(const QString &message, bool startFailure)
{
    if (state_ == State::Failed)
        return;
    const bool starting = startFailure || state_ == State::Loading;
    state_ = State::Failed;
    failure_ = message;
    loadBound_.stop();
    registrationBound_.stop();
    const QStringList dropped = std::exchange(held_, {});
    for (const QString &request : dropped) {
        const auto call = InvokeRequest::Parse(request);
        ProtocolTrace::Record(ProtocolTrace::Direction::Call, call ? call->name : request,
                              call ? call->argument : QString(), "error: " + message);
    }
    emit stopped();
    if (starting)
        emit startFailed(message);
    else
        emit failure(message);
}
