// Full-screen mode and window mode, the title bar, the window's geometry and the player's
// place in it.
#include "bridge/core/HostError.h"
#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"
#include "shell/player/MoviePlayer.h"

#include <QResizeEvent>
#include <QtMath>

namespace {

constexpr uint32_t WS_CAPTION = 0x00C00000;

} // namespace

void frmMain::GoFullScreen()
{
    using namespace GameSettings;
    if (PortraitDisplay)
        return;
    heldPlace_.reset();
    LeaveWindowMode();
    // Full screen on the desktop's own mode changes no mode: the window covers the output
    // as it is, and the stage is scaled to fit it.
    if (!DesktopFullScreen())
        modChangeRes::SetGameDisplayMode();
    CoverGameOutput();
    Form_RemoveTitleBar(this, false);

    // From here a first failure continues with the mode flag, the layout, the screen saver
    // and the movie's marker; a failure among those runs them once more; a second failure
    // goes to the caller.
    bool jumped = false;
    try {
        SetOuterWidth(FrameExtraWidth_ + GameWidth);
        SetOuterHeight(FrameExtraHeight_ + GameHeight);
        SetOuterTop(0);
        SetOuterLeft(0);
    } catch (const HostError &) {
        jumped = true;
    }
    auto finish = [this] {
        fullScreen = true;
        LayoutFlashPlayer();
        if (ScreenSaverWasActive_)
            SetScreenSaverActive(false);
        FlashCallFunction(QStringLiteral("SwitchFullscreenMarker"), QStringLiteral("true"));
    };
    try {
        finish();
    } catch (const HostError &) {
        if (jumped)
            throw;
        finish();
    }
}

void frmMain::GoWindowMode(bool isExitting)
{
    using namespace GameSettings;
    // Full screen on the desktop's own mode has no mode to give back; window mode is
    // refused on the same desktops as after a mode switch.
    bool refused = false;
    const bool restored = DesktopFullScreen()
                              ? isExitting || modChangeRes::DesktopLargerThanStage()
                              : modChangeRes::RestoreDesktopDisplayMode(&refused);
    if (refused) {
        // The display kept the game's mode: the game stays as it is rather than show a
        // window on a screen the size of the stage. Leaving, that is only noted.
        const auto &saved = modChangeRes::CurrentState();
        const QString what = QStringLiteral("The display did not take the desktop's mode "
                                            "(%1x%2) back")
                                 .arg(saved.SavedWidth)
                                 .arg(saved.SavedHeight);
        if (isExitting) {
            Note(what);
            return;
        }
        FlashCallFunction(QStringLiteral("SwitchFullscreenMarker"), QStringLiteral("true"));
        throw HostError(what + QStringLiteral("; the game stays in full-screen mode."));
    }
    if (!restored && !isExitting) {
        // The desktop is not larger than the stage: window mode is refused.
        if (services_.ui)
            services_.ui->ShowMessage(QString(), QStringLiteral("Your current screen resolution "
                                                                "does not support windowed mode "
                                                                "gameplay."));
        FlashCallFunction(QStringLiteral("SwitchFullscreenMarker"), QStringLiteral("true"));
        return;
    }
    if (isExitting)
        return; // only the display mode is given back

    // A failure from here ends the switch silently, with the steps before it left done.
    // Once the title bar is back the game plays in a window, so the screen saver comes back
    // also when the movie could not be told.
    bool windowed = false;
    try {
        Form_RemoveTitleBar(this, true);
        windowed = true;
        fullScreen = false;
        FitStageToWorkArea();
        SetOuterWidth(FrameExtraWidth_ + GameWidth);
        SetOuterHeight(FrameExtraHeight_ + GameHeight);
        KeepInsideWorkArea();
        LayoutFlashPlayer();
        FlashCallFunction(QStringLiteral("SwitchFullscreenMarker"), QStringLiteral("false"));
    } catch (const HostError &) {
    }
    if (windowed && ScreenSaverWasActive_)
        SetScreenSaverActive(true);
}

void frmMain::ToggleFullScreen()
{
    if (fullScreen)
        GoWindowMode(false);
    else
        GoFullScreen();
}

void frmMain::Form_RemoveTitleBar(QWidget *f, bool ShowTitle)
{
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws)
        return;
    uint32_t style = ws->GetWindowStyle(f);
    if (ShowTitle)
        style |= WS_CAPTION;
    else
        style &= 0xFF3FFFFFu;
    if (f == this) {
        titleBar_ = (style & WS_CAPTION) == WS_CAPTION;
        askedClient_ = QSize(); // a new mode: its size steps start from the window as it is
    }
    ws->SetWindowStyle(f, style);
    ws->FrameChanged(f);
}

void frmMain::LayoutFlashPlayer()
{
    // The player always covers the stage at the client area's top-left corner. The stage's
    // pixels are handed over in the toolkit's logical pixels: screen pixels per stage pixel
    // (the mode's scale), divided by the desktop's screen pixels per logical pixel.
    // One reading of the window's geometry for both the scale and the screen it is on.
    const QRect client = services_.windowSystem ? services_.windowSystem->ClientGeometry(this)
                                                : geometry();
    const QSizeF screenPixels = ScreenPixelsPerStagePixel(client);
    const qreal ratio =
        services_.windowSystem ? services_.windowSystem->ScaleAt(client.center()) : 1.0;
    auto logical = [ratio](int stagePixels, qreal perStagePixel) {
        return qMax(1, qCeil(stagePixels * perStagePixel / ratio - 1e-6));
    };
    const QSize whole(logical(GameSettings::GameWidth, screenPixels.width()),
                      logical(GameSettings::GameHeight, screenPixels.height()));
    // Full screen in a window of other proportions than the stage's (on the desktop's own
    // mode, or a window manager that holds it at the output's real size while the mode
    // change is only emulated for the game): the stage at the largest scale that fits,
    // centred; the rest is the window's black, as on a screen that shows the 800x600 mode
    // with bars. The player draws the movie at that size, not 800x600 stretched.
    if (HasTitleBar() || qFuzzyCompare(screenPixels.width(), screenPixels.height())) {
        flashPlayer_->setContainerRect(QRect(QPoint(0, 0), whole));
        return;
    }
    const qreal fit = qMin(screenPixels.width(), screenPixels.height());
    const QSize stage(logical(GameSettings::GameWidth, fit), logical(GameSettings::GameHeight, fit));
    flashPlayer_->setContainerRect(QRect(QPoint((whole.width() - stage.width()) / 2,
                                                (whole.height() - stage.height()) / 2),
                                         stage));
}

void frmMain::Form_Resize()
{
    ReturnToFullScreenOnce();
    LayoutFlashPlayer();
}

void frmMain::ReturnToFullScreenOnce()
{
    // The window is back in its normal state after it was minimised out of full screen.
    // Both the resize and the activation that follow come here; while full screen is being
    // entered (its call into the movie lets the other one run), the second does nothing,
    // so full screen is entered exactly once. The flag is cleared after GoFullScreen.
    // The state is asked last: it may ask the X server.
    if (!FocusControls::ReturnToFullScreen || returningToFullScreen_ || WindowState() != 0)
        return;
    // Set first: bringing the window back out of Qt's minimised state is itself a state
    // change that comes here again.
    returningToFullScreen_ = true;
    try {
        SetWindowState(0);
        GoFullScreen();
    } catch (...) {
        returningToFullScreen_ = false;
        throw;
    }
    returningToFullScreen_ = false;
    FocusControls::ReturnToFullScreen = false;
}

// --- The window's state ---------------------------------------------------------------

int frmMain::WindowState() const
{
    // Asked to minimise, the window counts as minimised until the window manager has done
    // it: meanwhile Qt may report it back in the normal state (it re-reads the window
    // manager's state on each change of it, and one made before the request crosses it), and
    // the return to full screen must not take that for the window coming back. Once the
    // window manager has done it, Qt learns it only from a later event, after the resize
    // that may ask here: the window manager's own word (WM_STATE) counts meanwhile.
    //
    // Qt keeps its own minimised state until the window manager changes the window's
    // state. One that never minimises X windows (weston) changes nothing, and the window
    // stays where it was: once the game is the active application again and the window
    // manager does not hold the window iconic, it is back, whatever Qt still believes.
    if (minimising_)
        return 1;
    platform::WindowSystem *ws = services_.windowSystem;
    if (ws && ws->Iconic(const_cast<frmMain *>(this)))
        return 1;
    return isMinimized() && !(ws && FocusControls::AppActive) ? 1 : 0;
}

void frmMain::SetWindowState(int state)
{
    // Minimising keeps the window's full-screen state with the window manager, and so does
    // the way back: the window returns covering its output.
    minimising_ = state == 1;
    if (state == 1)
        showMinimized();
    else if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    else if (!isVisible())
        show();
}

void frmMain::NoteMinimised(bool active)
{
    // The window manager has minimised the window; or the game is the active application
    // again while it never did.
    if (minimising_ && services_.windowSystem
        && (services_.windowSystem->Iconic(this) || active))
        minimising_ = false;
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    RunFormResize();
}

void frmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        RunFormResize();
}

void frmMain::RunFormResize()
{
    NoteMinimised(false);
    // A top-level entry: a failure is reported, never left to the event loop.
    try {
        Form_Resize();
    } catch (const HostError &error) {
        Report(QStringLiteral("Returning to full-screen mode failed: %1").arg(error.message()));
    }
}
