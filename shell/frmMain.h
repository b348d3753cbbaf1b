#pragma once
// The host's one window. It holds the keep-awake timer and the movie player, owns the host
// state, and carries the procedures of every subsystem as methods; each method is defined
// in the folder of the subsystem that owns it (shell/, bridge/, display/, input/).
#include "bridge/core/HostError.h"
#include "platform/Services.h"
#include "shell/DisplayOptions.h"

#include <QElapsedTimer>
#include <QMargins>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class MoviePlayer;

class frmMain : public QWidget {
    Q_OBJECT
public:
    // Creates the player for a parent window.
    using PlayerFactory = std::function<MoviePlayer *(QWidget *parent)>;

    struct Context {
        QString programFolder;                      // where the movie and side files are
        std::function<QString(const char *)> env;   // environment variables
        platform::Services services;
        // How full screen is made: the stage's mode, or the desktop's own.
        DisplayOptions::FullScreen fullScreenKind = DisplayOptions::FullScreen::Exclusive;
        QString picturesFolder; // where screenshots go (the user's pictures folder)
    };

    frmMain(const PlayerFactory &createPlayer, Context context, QWidget *parent = nullptr);
    ~frmMain() override;

    // --- Start-up and close (shell/frmMain.cpp) ----------------------------------------
    // The start-up sequence. A failure propagates as HostError; the caller reports it and
    // ends the program.
    void Form_Load();
    // Start-up failed, in Form_Load or later when the movie could not be started: the
    // desktop's mode and screen saver are given back, the user is told why in a message
    // box, and the program ends (exit status 1). Nothing else runs meanwhile.
    void StartFailed(const QString &message);

    // --- Calls into the movie (bridge/FlashCall.cpp) -------------------------------------
    // Calls the movie function fnName with the one argument fnArg; always returns "".
    QString FlashCallFunction(const QString &fnName, const QString &fnArg);

    // --- Window modes and layout (display/WindowModes.cpp) -------------------------------
    void GoFullScreen();
    void GoWindowMode(bool isExitting);
    void ToggleFullScreen();
    void Form_RemoveTitleBar(QWidget *f, bool ShowTitle);
    void LayoutFlashPlayer();
    void Form_Resize();
    // The window state as the modes see it: 0 normal, 1 minimised.
    int WindowState() const;
    void SetWindowState(int state);
    // Ends the wait for a minimising asked for: done by the window manager, or given up
    // because the game is active again.
    void NoteMinimised(bool active);
    // Full screen keeps the desktop's own mode (--fullscreen=desktop).
    bool DesktopFullScreen() const
    {
        return context_.fullScreenKind == DisplayOptions::FullScreen::Desktop;
    }

    // --- Screenshots (shell/Screenshot.cpp) -----------------------------------------------
    // Saves the stage as the player sees it, at the stage's size, as a PNG file in the
    // pictures folder, and names the file on stderr. A failure is a note there; the game
    // goes on.
    void TakeScreenshot();

    // --- Web links (input/WebLinks.cpp) ---------------------------------------------------
    bool OpenBrowser(const QString &URL, bool ForceOpen);
    bool OpenBrowserForStrategy(const QString &URL);

    // --- Filters and focus (input/Focus.cpp) ---------------------------------------------
    // Finds the player's input window among the window's descendants and installs the
    // player filter on it.
    void DisableRightClick();
    // Installs the main window's filter (application activation).
    void HookMainWindow();
    // The focus steps run to their end whatever the movie's "notifyGame" call does; its
    // failure is then passed on (the first of a row of failures only).
    void FocusLossSteps();
    void FocusGainSteps();

    // How long a close that goes ahead without the movie still runs the commands the
    // movie raised before it.
    static constexpr int CloseCommandsBoundMs = 3000;

    // Runs one top-level step: a failure is reported and the program goes on. Once the
    // program is ending, no further step runs.
    template <typename Step> void RunGuarded(Step step)
    {
        if (ended_)
            return;
        try {
            step();
        } catch (const HostError &error) {
            Report(error.message());
        }
    }

    // --- Screen saver and keep-awake (input/ScreenSaver.cpp) -----------------------------
    bool IsScreenSaverActive();
    bool SetScreenSaverActive(bool active);

    // The public mode flag: full-screen mode is the current mode.
    bool fullScreen = false;

    // Host state, readable by every part and by tests.
    const QString &SavePath() const { return SavePath_; }
    const QString &ExitSurveyUrl() const { return ExitSurveyUrl_; }
    const QString &StrategyGuideUrl() const { return StrategyGuideUrl_; }
    int FrameExtraWidth() const { return FrameExtraWidth_; }
    int FrameExtraHeight() const { return FrameExtraHeight_; }
    bool ScreenSaverWasActive() const { return ScreenSaverWasActive_; }

    MoviePlayer &flashPlayer() { return *flashPlayer_; }
    QTimer &tmrDisableSleep() { return tmrDisableSleep_; }

protected:
    // The close request (Form_QueryUnload): handed to the movie, and the window stays.
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // --- The movie's commands (bridge/MovieCommands.cpp) ---------------------------------
    void flashPlayer_FSCommand(const QString &command, const QString &args);
    void HandleMovieCommand(const QString &command, const QString &args);
    void GetPlayerList();

    // The window's outer geometry, frame included, as the platform sees it
    // (display/WindowGeometry.cpp). Sizes are the host's pixels: the frame's part and the
    // stage's part; positions are relative to the game output's top-left corner.
    void SetOuterWidth(int width);
    void SetOuterHeight(int height);
    void SetOuterTop(int top);
    void SetOuterLeft(int left);
    void MoveOuter(int x, int y);
    QSize AskedClientSize();
    void ResizeClient(const QSize &client);
    void RefuseWhileMinimised(const char *what) const;
    // The caption bits were last set (the window's geometry is window mode's), or cleared.
    bool HasTitleBar() const;
    // The window's frame: the window manager's own when it tells it, else the frame the
    // host assumes (FrameExtraWidth, FrameExtraHeight) while the window has a title bar.
    QMargins WindowModeFrame();
    // The frame of the window with its title bar: the window manager's own (also before
    // the window has it) when known, else WindowModeFrame.
    QMargins TitleBarFrame();
    QRect OuterGeometry();
    // Screen pixels per stage pixel on each axis, in the mode the title bar says; from the
    // client geometry already read, where the caller has it.
    QSizeF ScreenPixelsPerStagePixel(std::optional<QRect> client = std::nullopt);

    // Where the game is shown (display/GameOutput.cpp).
    void SelectGameOutput(const QRect &window);
    void LeaveWindowMode();
    void CoverGameOutput();
    void FitStageToWorkArea();
    void KeepInsideWorkArea();
    // Puts the window back where window mode put it, when the window manager moved it
    // within moments of the switch.
    void HoldWindowPlace();
    // The work area on the game output now; the one window mode uses (read before the
    // last switch to full screen).
    QRect DesktopWorkArea();
    QRect WindowModeArea();
    void RunFormResize();
    void ReturnToFullScreenOnce();

    // Tells the movie of a focus change; returns the failure to report, if any.
    QString TellFocus(const QString &what);

    void tmrDisableSleep_Timer();
    void OpenExternalLink(const QUrl &url);
    void Report(const QString &what);
    // A note for whoever reads the program's output (stderr); the user is not disturbed.
    static void Note(const QString &what);
    // Ends the process at once (a fake process returns; then nothing more is done).
    void EndProcess(int exitCode = 0);

    // Ends of the program that happen inside other modules go through the window, so that
    // start-up knows not to go on when a fake process returned.
    class EndWatcher : public platform::Process {
    public:
        explicit EndWatcher(frmMain *window) : window_(window) {}
        void EndNow(int) override { window_->EndProcess(); }

    private:
        frmMain *window_;
    };

    Context context_;
    platform::Services &services_;
    QTimer tmrDisableSleep_;
    MoviePlayer *flashPlayer_ = nullptr;

    QString SavePath_;
    int FrameExtraHeight_ = 0;
    int FrameExtraWidth_ = 0;
    QString ExitSurveyUrl_;
    QString StrategyGuideUrl_;
    bool ScreenSaverWasActive_ = false;
    bool ended_ = false;
    bool returningToFullScreen_ = false;
    bool focusCallFailed_ = false; // the last "notifyGame" call failed

    // The output that holds the game and its rectangle now (screen pixels, root
    // coordinates); the desktop's work area on it, read while the desktop's mode is in
    // force; the scale of the stage in window mode; where window mode last put the window.
    bool titleBar_ = true;
    bool minimising_ = false; // asked to minimise, not yet minimised by the window manager
    QSize askedClient_; // the client size the last size step asked for, in this mode
    QByteArray gameOutputName_;
    QRect gameOutput_;
    QRect workArea_;
    QSizeF windowScale_{1.0, 1.0};
    std::optional<QPoint> windowPlace_;
    // The place window mode gave the window, held for a moment against the window
    // manager's late changes; since when; how often the window was put back.
    static constexpr int PlaceHeldMs = 2000;
    static constexpr int PlaceCorrections = 2;
    std::optional<QPoint> heldPlace_;
    QElapsedTimer placeHeld_;
    int placeCorrections_ = 0;
    EndWatcher endWatcher_{this};
};
