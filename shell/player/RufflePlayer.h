#pragma once
// The movie player: Ruffle (the Flash emulator) in a QWebEngineView, showing our own page
// through the "lanternfall:" scheme. Commands travel from the page to C++ through a
// QWebChannel; calls into the movie run as page scripts whose answer is awaited.
#include "shell/player/MoviePlayer.h"
#include "shell/player/RuffleConfig.h"

#include <QPair>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QUrl>

class QWebEngineView;
class QWebEngineProfile;
class QWebChannel;
class AppSchemeHandler;
class PlayerPage;
class PageBridge;

class RufflePlayer : public MoviePlayer {
    Q_OBJECT
public:
    // ruffleDir: the folder with Ruffle's files (the program folder's "ruffle").
    RufflePlayer(const QString &ruffleDir, QWidget *parent);
    ~RufflePlayer() override;

    QWidget *widget() override;
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

private:
    void onPageCommand(const QString &command, const QString &args);
    void dispatchCommands();
    void onPlayerState(const QString &state, const QString &detail);
    void onRendererGone(const QString &why);
    QString deliver(const QString &request);
    void fail(const QString &message);

    enum class State { Idle, Loading, Ready, Failed };

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
    QStringList held_;
    int callTimeoutMs_ = 10000;
    int waiting_ = 0;
    bool dispatching_ = false;
    QQueue<QPair<QString, QString>> pendingCommands_;
};
