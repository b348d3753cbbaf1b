#pragma once
// The movie player: Ruffle (the Flash emulator) in a QWebEngineView, showing our own page
// through the "lanternfall:" scheme. Commands travel from the page to C++ through a
// QWebChannel; calls into the movie run as page scripts whose answer is awaited.
//
// Readiness: a call into the movie waits until the movie has loaded and registered the
// function the call names, in order behind the calls made before it. Waiting calls are
// held, never awaited: CallFunction returns at once and the host goes on. A name still
// missing RegistrationBoundMs after the movie loaded fails (with one report for all the
// calls that waited for it); from then on calls go to the movie at once, and a call to a
// missing name fails at once.
#include "shell/player/MoviePlayer.h"
#include "shell/player/RuffleConfig.h"

#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <thread>

class QWebEngineView;
class QWebEngineProfile;
class QWebChannel;
class AppSchemeHandler;
class PlayerPage;
class PageBridge;

class RufflePlayer : public MoviePlayer {
    Q_OBJECT
public:
    // How long after loading the movie may take to register a function that calls wait for.
    static constexpr int RegistrationBoundMs = 30000;
    // How long the page and the movie may take to load.
    static constexpr int LoadBoundMs = 60000;

    // ruffleDir: the folder with Ruffle's files (the program folder's "ruffle").
    RufflePlayer(const QString &ruffleDir, QWidget *parent);
    ~RufflePlayer() override;

    QWidget *widget() override;
    // Besides a missing or unreadable file, refuses a file that is no Flash movie by its
    // header and a player whose files are missing. The movie's whole content is checked
    // beside the page's loading; a damaged movie then fails the start.
    void setMovie(const QString &path) override;
    QString movie() const override { return moviePath_; }
    void setAllowFullScreen(const QString &value) override;
    void setContainerRect(const QRect &rect) override;
    QRect containerRect() const override;
    QString CallFunction(const QString &request) override;
    QWidget *inputWindow() override;

    // How long a call into the movie may take before it counts as failed.
    void setCallTimeout(int milliseconds) { callTimeoutMs_ = milliseconds; }

    // The persisted properties the player was created with (read-only view for tests).
    const RuffleConfig::Properties &properties() const { return properties_; }
    QByteArray configJson() const;

signals:
    // The player stopped: a call waiting for the page's answer gives up.
    void stopped();

private:
    enum class State { Idle, Loading, Playing, Failed };

    // --- Commands and the player's state (RufflePlayer.cpp) ----------------------------
    void onPageCommand(const QString &command, const QString &args);
    void dispatchCommands();
    void onPlayerState(const QString &state, const QString &detail);
    void onMovieChecked(const QString &problem);
    // Stops the player with a message: a start failure while the movie has not loaded (or
    // when startFailure says so), a failure report otherwise.
    void stopPlayer(const QString &message, bool startFailure = false);

    // --- Calls into the movie (RufflePlayerCalls.cpp) ----------------------------------
    void onMovieLoaded(const QStringList &names);
    void onNamesRegistered(const QStringList &names);
    void onRegistrationBound();
    bool mustHold(const QString &request) const;
    void deliverHeld();
    QString deliver(const QString &request);

    QString ruffleDir_;
    QWebEngineProfile *profile_ = nullptr;
    QWebEngineView *view_ = nullptr;
    PlayerPage *page_ = nullptr;
    QWebChannel *channel_ = nullptr;
    PageBridge *bridge_ = nullptr;
    AppSchemeHandler *scheme_ = nullptr;
    RuffleConfig::Properties properties_;
    QString moviePath_;
    State state_ = State::Idle;
    QString failure_;
    int callTimeoutMs_ = 10000;
    int waiting_ = 0;
    bool dispatching_ = false;
    QQueue<QPair<QString, QString>> pendingCommands_;

    QStringList held_;         // calls waiting for the movie, in order
    QSet<QString> registered_; // the functions the movie has registered
    bool boundPassed_ = false; // RegistrationBoundMs have passed since loading
    bool delivering_ = false;  // held calls are being delivered
    QTimer loadBound_;
    QTimer registrationBound_;
    std::thread movieCheck_;
};
