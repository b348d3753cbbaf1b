#include "shell/frmMain.h"

#include "bridge/core/HostError.h"
#include "bridge/core/ProtocolTrace.h"
#include "bridge/core/SaveFiles.h"
#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "shell/GameSettings.h"
#include "shell/HostPaths.h"
#include "shell/player/MoviePlayer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QStyle>
#include <cstdio>

frmMain::frmMain(const PlayerFactory &createPlayer, Context context, QWidget *parent)
    : QWidget(parent), context_(std::move(context)), services_(context_.services)
{
    // The stored caption is a placeholder; start-up replaces it before the window is shown.
    setWindowTitle(QStringLiteral("frmMain"));
    setObjectName(QStringLiteral("frmMain"));
    // A black background behind the stage, and no maximise button: the stage has one size.
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    // The controls, in their order: the keep-awake timer (running from creation, every
    // 10 seconds, never stopped) and the movie player.
    tmrDisableSleep_.setObjectName(QStringLiteral("tmrDisableSleep"));
    tmrDisableSleep_.setInterval(10000);
    connect(&tmrDisableSleep_, &QTimer::timeout, this, &frmMain::tmrDisableSleep_Timer);
    tmrDisableSleep_.start();

    modChangeRes::SetServices(services_.displayModes, services_.ui, &endWatcher_);

    flashPlayer_ = createPlayer(this);
    connect(flashPlayer_, &MoviePlayer::FSCommand, this, &frmMain::flashPlayer_FSCommand);
    connect(flashPlayer_, &MoviePlayer::failure, this, &frmMain::Report);
    connect(flashPlayer_, &MoviePlayer::startFailed, this, &frmMain::StartFailed);
    connect(flashPlayer_, &MoviePlayer::externalLinkRequested, this, &frmMain::OpenExternalLink);

    // The stage is laid out again whenever the window's real size changes, also where the
    // toolkit reports no resize or the window manager applied the size after a layout; and
    // a window manager's late changes just after a switch to window mode are undone.
    if (services_.windowSystem) {
        services_.windowSystem->FollowClientSize(this, [this] {
            RunGuarded([this] { LayoutFlashPlayer(); });
        });
        services_.windowSystem->FollowFrame(this, [this] {
            RunGuarded([this] { HoldWindowPlace(); });
        });
    }
}

frmMain::~frmMain() = default;

void frmMain::EndProcess(int exitCode)
{
    ended_ = true;
    // What was asked of the desktop's screen saver reaches it before the process ends (a
    // bus that hangs holds the end up half a second at most; an inhibit dies with the
    // process's bus connection anyway).
    if (services_.screenSaverInhibit)
        services_.screenSaverInhibit->Flush(500);
    services_.process->EndNow(exitCode);
}

void frmMain::Report(const QString &what)
{
    if (services_.ui)
        services_.ui->ReportError(what);
}

void frmMain::Note(const QString &what)
{
    std::fprintf(stderr, "lanternfall: %s\n", qPrintable(what));
}

void frmMain::Form_Load()
{
    using namespace GameSettings;

    // 1. The stage size.
    PortraitDisplay = false;
    GameWidth = 800;
    GameHeight = 600;

    // 2. Whether the system screen saver is active now.
    ScreenSaverWasActive_ = IsScreenSaverActive();

    // 3. The desktop's display mode: recorded for later, and a portrait desktop narrower
    //    than the stage ends the program here. The game goes to the primary output, or
    //    else to the one with the pointer.
    SelectGameOutput(QRect());
    modChangeRes::CheckDesktopDisplay();
    if (ended_)
        return;

    // 4. The two addresses of the link-info file. Missing lines read as empty strings and
    //    the host starts anyway.
    const HostPaths::LinkInfo links =
        HostPaths::ReadLinkInfo(HostPaths::LinkInfoPath(context_.programFolder));
    ExitSurveyUrl_ = links.exitSurveyUrl;
    StrategyGuideUrl_ = links.strategyGuideUrl;
    if (!links.problem.isEmpty())
        std::fprintf(stderr, "lanternfall: %s; the missing addresses are empty\n",
                     qPrintable(links.problem));

    // 5. The main window, and its filter: activation is watched from now on.
    MainHwnd = this;
    HookMainWindow();

    // 6. The title, also the caption.
    GameTitle = QStringLiteral("Lanternfall");
    setWindowTitle(GameTitle);

    // 7. One copy only: a second copy ends here, before anything is shown, loaded or saved.
    if (services_.instanceLock && services_.instanceLock->AnotherCopyRuns()) {
        EndProcess();
        return;
    }

    // 8. Full-screen mode is the first mode.
    fullScreen = true;

    // 9. The save folder, from the environment as it is now.
    SavePath_ = HostPaths::SaveFolder(GameTitle, context_.env);

    // 10. What the window's frame adds to the stage in window mode. The window manager's
    //     own frame when it tells it, so that the whole stage shows in window mode;
    //     otherwise the caption height and the border width, each plus 7 pixels.
    const QMargins frame = services_.windowSystem
                               ? services_.windowSystem->DecoratedFrameExtents(this)
                               : QMargins();
    if (!frame.isNull()) {
        FrameExtraHeight_ = frame.top() + frame.bottom();
        FrameExtraWidth_ = frame.left() + frame.right();
    } else {
        // In the screen's pixels, like the window manager's frame.
        const qreal scale = services_.windowSystem
                                ? services_.windowSystem->ScaleAt(gameOutput_.center())
                                : 1.0;
        FrameExtraHeight_ =
            qRound((style()->pixelMetric(QStyle::PM_TitleBarHeight) + 7) * scale);
        FrameExtraWidth_ =
            qRound((style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 7) * scale);
    }

    // 11. Create the save folder with every missing folder above it. Its result is not
    //     examined: the save commands report their own failures. Temporary files that
    //     saves cut short by a crash left there go (only those; this is the one copy).
    QDir().mkpath(SavePath_);
    SaveFiles::RemoveLeftoverTempFiles(SavePath_);

    // 12. The window's outer size: the stage, at the scale a window shows it on this
    //     desktop.
    workArea_ = DesktopWorkArea();
    FitStageToWorkArea();
    SetOuterWidth(GameWidth);
    SetOuterHeight(GameHeight);

    // 13. Load the movie, and keep the player out of a full screen of its own.
    flashPlayer_->setMovie(HostPaths::MoviePath(context_.programFolder));
    flashPlayer_->setAllowFullScreen(QStringLiteral("False"));

    // 14. The first mode. A portrait desktop never enters full screen: the game plays in
    //     its window, and the mode flag says so (a change of focus then leaves the window
    //     alone instead of minimising it).
    if (fullScreen)
        GoFullScreen();
    else
        GoWindowMode(false);
    if (PortraitDisplay)
        fullScreen = false;

    // 15. The outer size with the frame, at the top-left corner of the screen.
    SetOuterWidth(GameWidth + FrameExtraWidth_);
    SetOuterHeight(GameHeight + FrameExtraHeight_);
    show();
    SetOuterTop(0);
    SetOuterLeft(0);

    // 16. The player at the stage rectangle.
    LayoutFlashPlayer();

    // 17. The player filter on the player's input window.
    DisableRightClick();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // Closing is the movie's decision: it is told, and answers with "quit" when it agrees.
    // When it cannot be told (no movie running, no such function, the player is gone), the
    // close goes ahead: a dead movie must not leave a window that cannot be closed.
    try {
        FlashCallFunction(QStringLiteral("CloseRequested"), QString());
        event->ignore();
    } catch (const HostError &error) {
        std::fprintf(stderr, "lanternfall: the movie was not told of the close request (%s); "
                             "closing\n",
                     qPrintable(error.message()));
        // What the movie asked for before it stopped answering (a save among it) is done
        // first, within a bound; from then on nothing more runs.
        if (const int dropped = flashPlayer_->RunWaitingCommands(CloseCommandsBoundMs))
            Note(QStringLiteral("%1 of the movie's commands were not run: the program is ending")
                     .arg(dropped));
        ended_ = true;
        event->accept();
        QApplication::quit();
    }
}

void frmMain::StartFailed(const QString &message)
{
    // The game never ran. The desktop's mode and screen saver come back before the user
    // reads why; the window goes, and nothing else runs meanwhile (no focus step with its
    // call into the movie, no return to full screen). Then the program ends.
    ended_ = true;
    FocusControls::ReturnToFullScreen = false;
    GoWindowMode(true);
    if (ScreenSaverWasActive_)
        SetScreenSaverActive(true);
    hide();
    if (services_.ui)
        services_.ui->ShowMessage(QStringLiteral("Lanternfall"), message);
    EndProcess(1);
}
