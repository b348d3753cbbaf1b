// Where on the desktop the game is shown: the output that holds it, the work area that
// window mode stays inside, and the scale of the stage in a window.
#include "display/StageGeometry.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"

void frmMain::SelectGameOutput(const QRect &window)
{
    platform::DisplayModes *modes = services_.displayModes;
    if (!modes)
        return;
    const QList<platform::Output> outputs = modes->Outputs();
    const int chosen = StageGeometry::GameOutput(outputs, window);
    if (chosen < 0)
        return; // the display-mode service keeps to the primary output
    gameOutputName_ = outputs[chosen].name;
    gameOutput_ = outputs[chosen].geometry;
    modes->SelectOutput(gameOutputName_);
}

void frmMain::LeaveWindowMode()
{
    // Before the display leaves the desktop's mode for the stage's, while the desktop is
    // settled: where the window stands, the output that holds it, and the work area there
    // (after a mode change the window manager updates the work area late, so it is read
    // now and used when the desktop's mode is back).
    if (!services_.windowSystem || !HasTitleBar())
        return;
    const bool shown = isVisible() && !isMinimized();
    const QRect outer = shown ? OuterGeometry() : QRect();
    if (shown)
        windowPlace_ = outer.topLeft();
    SelectGameOutput(outer);
    workArea_ = DesktopWorkArea();
}

void frmMain::CoverGameOutput()
{
    // The game output as it is after the switch: the window without its title bar covers it.
    if (services_.displayModes)
        for (const platform::Output &output : services_.displayModes->Outputs())
            if (output.name == gameOutputName_)
                gameOutput_ = output.geometry;
    if (services_.windowSystem)
        services_.windowSystem->SetHomeOutput(this, gameOutput_);
}

QRect frmMain::DesktopWorkArea()
{
    const QRect area = services_.windowSystem ? services_.windowSystem->WorkArea() : QRect();
    if (gameOutput_.isEmpty())
        return area;
    const QRect onOutput = area & gameOutput_;
    return onOutput.isEmpty() ? gameOutput_ : onOutput;
}

QRect frmMain::WindowModeArea()
{
    return workArea_.isEmpty() ? DesktopWorkArea() : workArea_;
}

QMargins frmMain::TitleBarFrame()
{
    const QMargins frame =
        services_.windowSystem ? services_.windowSystem->DecoratedFrameExtents(this) : QMargins();
    return frame.isNull() ? WindowModeFrame() : frame;
}

void frmMain::FitStageToWorkArea()
{
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws)
        return;
    const QMargins frame = TitleBarFrame();
    const QRect area = WindowModeArea();
    const QPoint centre = area.isEmpty() ? gameOutput_.center() : area.center();
    const QSize stage(GameSettings::GameWidth, GameSettings::GameHeight);
    const qreal desktopScale = ws->ScaleAt(centre);
    windowScale_ = StageGeometry::WholeLogicalPixels(
        stage, StageGeometry::WindowScale(stage, frame, area, desktopScale), desktopScale);
}

void frmMain::KeepInsideWorkArea()
{
    // Window mode puts the window back where it stood (or, the first time, where the window
    // manager put it), moved only as far as it takes to lie inside the work area: never
    // under a panel, its title bar always within reach. A window manager that does not tell
    // its frame places the window itself: a move that cannot allow for the frame would put
    // the title bar off the screen.
    heldPlace_.reset();
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws)
        return;
    const QRect now = OuterGeometry();
    QRect outer = now;
    if (windowPlace_)
        outer.moveTopLeft(*windowPlace_);
    // At the size window mode asked for: the window manager may not have applied it yet
    // (kwin, slow to leave full screen under load, still holds the window at the screen's
    // size, which would put the place at the work area's corner).
    if (askedClient_.isValid())
        outer.setSize(askedClient_.grownBy(TitleBarFrame()));
    const QPoint to = StageGeometry::Inside(outer, WindowModeArea());
    if (!ws->FrameExtents(this).isNull() && to != now.topLeft())
        ws->MoveTo(this, to.x(), to.y());
    // The window manager may not be done with the switch when it has answered it: kwin sets
    // the frame only later, or re-places the window after it has followed the screen's
    // new size (and meanwhile may not take the move above). For a moment the place is
    // held (see HoldWindowPlace).
    heldPlace_ = to;
    placeHeld_.start();
    placeCorrections_ = 0;
}

void frmMain::HoldWindowPlace()
{
    // The window manager changed the window or its frame. Shortly after a switch to window
    // mode that is the window manager finishing the switch its own way, not the player: the
    // window goes back to the place and size that window mode gave it. Twice at most, and
    // the move is only asked for, so that a window manager that ignores it (weston) or
    // insists has the last word without holding the host up.
    if (!heldPlace_)
        return;
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws || fullScreen || !HasTitleBar() || ws->Iconic(this)
        || placeHeld_.hasExpired(PlaceHeldMs) || placeCorrections_ >= PlaceCorrections) {
        heldPlace_.reset();
        return;
    }
    if (ws->FrameExtents(this).isNull())
        return; // the frame is not set yet: a later change tells
    const QPoint to = *heldPlace_;
    bool corrected = false;
    if (askedClient_.isValid() && ws->ClientGeometry(this).size() != askedClient_) {
        ws->ResizeClient(this, askedClient_);
        corrected = true;
    }
    if (OuterGeometry().topLeft() != to) {
        ws->AskToMove(this, to.x(), to.y());
        corrected = true;
    }
    if (corrected)
        ++placeCorrections_;
}
