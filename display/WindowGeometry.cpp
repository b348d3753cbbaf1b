// The window's size and place as the window system sees them: the one place where the host's
// pixels are handed over to the platform.
//
// The host computes in pixels as the modes describe them: the stage's 800 by 600 and the
// frame around it. The platform's unit is the screen's own pixel. The stage's part is
// scaled by the screen pixels per stage pixel of the mode in force (full screen: the output
// as the window covers it; window mode: the desktop's scale, or less when that does not fit
// the work area); the frame's part is the window manager's business: the window system
// adds its real frame around the client area, so an assumed frame is never added to a
// window that has none, and a frame that differs from the assumed one never cuts the stage.
#include "bridge/core/HostError.h"
#include "display/StageGeometry.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"

bool frmMain::HasTitleBar() const
{
    return titleBar_;
}

QSizeF frmMain::ScreenPixelsPerStagePixel(std::optional<QRect> client)
{
    using namespace GameSettings;
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws)
        return QSizeF(1, 1);
    if (HasTitleBar())
        return windowScale_;
    // Full screen: the stage covers the output. Where the window manager holds the window
    // in its full-screen state, the output is what it made the client area: the output in
    // the stage's mode, or under a mode change that Xwayland only emulates for this client,
    // the whole real output (the player then fills it, keeping the stage's proportions).
    if (ws->HeldByWindowManager(this)) {
        if (!client)
            client = ws->ClientGeometry(this);
        if (!client->isEmpty())
            return QSizeF(double(client->width()) / GameWidth, double(client->height()) / GameHeight);
    }
    // Without that state, on the desktop's own mode: the window is sized to the whole output.
    if (DesktopFullScreen() && !gameOutput_.isEmpty())
        return QSizeF(double(gameOutput_.width()) / GameWidth,
                      double(gameOutput_.height()) / GameHeight);
    return QSizeF(1, 1);
}

QMargins frmMain::WindowModeFrame()
{
    platform::WindowSystem *ws = services_.windowSystem;
    const QMargins real = ws ? ws->FrameExtents(this) : QMargins();
    if (!real.isNull() || !HasTitleBar())
        return real;
    // A window manager that decorates the window without telling how: the frame assumed at
    // start-up, a border all around and the title bar above.
    const int border = FrameExtraWidth_ / 2;
    return QMargins(border, qMax(0, FrameExtraHeight_ - border), FrameExtraWidth_ - border, border);
}

QRect frmMain::OuterGeometry()
{
    const QRect client = services_.windowSystem ? services_.windowSystem->ClientGeometry(this)
                                                : geometry();
    return client.marginsAdded(WindowModeFrame());
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
    QSize client = AskedClientSize();
    client.setWidth(StageGeometry::ScaledStage(QSize(qMax(1, width - FrameExtraWidth_), 1),
                                               ScreenPixelsPerStagePixel().width())
                        .width());
    ResizeClient(client);
}

void frmMain::SetOuterHeight(int height)
{
    RefuseWhileMinimised("sized");
    QSize client = AskedClientSize();
    client.setHeight(StageGeometry::ScaledStage(QSize(1, qMax(1, height - FrameExtraHeight_)),
                                                ScreenPixelsPerStagePixel().height())
                         .height());
    ResizeClient(client);
}

QSize frmMain::AskedClientSize()
{
    // The size the last step asked for: the window manager may not have applied it yet
    // when the next step sets the other side.
    if (askedClient_.isValid())
        return askedClient_;
    return services_.windowSystem ? services_.windowSystem->ClientGeometry(this).size() : size();
}

void frmMain::ResizeClient(const QSize &client)
{
    askedClient_ = client;
    if (services_.windowSystem)
        services_.windowSystem->ResizeClient(this, client);
    else
        resize(client);
}

void frmMain::SetOuterTop(int top)
{
    RefuseWhileMinimised("moved");
    MoveOuter(OuterGeometry().left(), gameOutput_.top() + top);
}

void frmMain::SetOuterLeft(int left)
{
    RefuseWhileMinimised("moved");
    MoveOuter(gameOutput_.left() + left, OuterGeometry().top());
}

void frmMain::MoveOuter(int x, int y)
{
    platform::WindowSystem *ws = services_.windowSystem;
    if (!ws) {
        move(x, y);
        return;
    }
    QPoint to(x, y);
    // A window with its title bar is never put under a panel (where the window manager tells
    // the frame that the title bar needs).
    if (HasTitleBar() && !ws->FrameExtents(this).isNull())
        to = StageGeometry::Inside(QRect(to, OuterGeometry().size()), WindowModeArea());
    ws->MoveTo(this, to.x(), to.y());
}
