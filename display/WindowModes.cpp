// Full-screen mode and window mode, the title bar, the window's geometry and the player's
// place in it.
#include "bridge/core/HostError.h"
#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"
#include "shell/player/MoviePlayer.h"

#include <QResizeEvent>

namespace {

constexpr uint32_t WS_CAPTION = 0x00C00000;

} // namespace

void frmMain::GoFullScreen()
{
    using namespace GameSettings;
    if (PortraitDisplay)
        return;
    modChangeRes::SetGameDisplayMode();
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
    const bool restored = modChangeRes::RestoreDesktopDisplayMode();
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
    try {
        Form_RemoveTitleBar(this, true);
        fullScreen = false;
        SetOuterWidth(FrameExtraWidth_ + GameWidth);
        SetOuterHeight(FrameExtraHeight_ + GameHeight);
        LayoutFlashPlayer();
        FlashCallFunction(QStringLiteral("SwitchFullscreenMarker"), QStringLiteral("false"));
        if (ScreenSaverWasActive_)
            SetScreenSaverActive(true);
    } catch (const HostError &) {
    }
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
    ws->SetWindowStyle(f, style);
    ws->FrameChanged(f);
}

void frmMain::LayoutFlashPlayer()
{
    // The player always covers the stage at the client area's top-left corner, whatever
    // the window's size, mode or state.
    flashPlayer_->setContainerRect(QRect(0, 0, GameSettings::GameWidth, GameSettings::GameHeight));
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
    if (WindowState() != 0 || !FocusControls::ReturnToFullScreen || returningToFullScreen_)
        return;
    SetWindowState(0);
    returningToFullScreen_ = true;
    try {
        GoFullScreen();
    } catch (...) {
        returningToFullScreen_ = false;
        throw;
    }
    returningToFullScreen_ = false;
    FocusControls::ReturnToFullScreen = false;
}

// --- The window's geometry as the platform sees it ------------------------------------

int frmMain::WindowState() const
{
    return isMinimized() ? 1 : 0;
}

void frmMain::SetWindowState(int state)
{
    if (state == 1)
        showMinimized();
    else if (isMinimized() || !isVisible())
        showNormal();
}

QMargins frmMain::CurrentFrame()
{
    return services_.windowSystem ? services_.windowSystem->FrameExtents(this) : QMargins();
}

void frmMain::RefuseWhileMinimised(const char *what) const
{
    // A minimised window cannot be sized or moved.
    if (isMinimized())
        throw HostError(QStringLiteral("the window is minimised and cannot be %1")
                            .arg(QLatin1String(what)));
}

void frmMain::SetOuterWidth(int width)
{
    RefuseWhileMinimised("sized");
    const QMargins frame = CurrentFrame();
    resize(qMax(1, width - frame.left() - frame.right()), height());
}

void frmMain::SetOuterHeight(int height)
{
    RefuseWhileMinimised("sized");
    const QMargins frame = CurrentFrame();
    resize(width(), qMax(1, height - frame.top() - frame.bottom()));
}

void frmMain::SetOuterTop(int top)
{
    RefuseWhileMinimised("moved");
    MoveOuter(frameGeometry().left(), top);
}

void frmMain::SetOuterLeft(int left)
{
    RefuseWhileMinimised("moved");
    MoveOuter(left, frameGeometry().top());
}

void frmMain::MoveOuter(int x, int y)
{
    if (services_.windowSystem && isVisible())
        services_.windowSystem->MoveTo(this, x, y);
    else
        move(x, y);
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
    // A top-level entry: a failure is reported, never left to the event loop.
    try {
        Form_Resize();
    } catch (const HostError &error) {
        Report(QStringLiteral("Returning to full-screen mode failed: %1").arg(error.message()));
    }
}
