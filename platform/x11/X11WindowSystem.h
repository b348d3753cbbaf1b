#pragma once
// The main window's style word, title bar, full-screen state and place on X11.
#include "platform/Services.h"

#include <QList>
#include <QPoint>

#include <memory>
#include <optional>

namespace platform {

class X11SizeFollower;
class X11WindowWatch;

// The style word lives with the window (a property of the widget), so that it starts as
// the style of a normal top-level window with a title bar and follows the window's life:
// WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_VISIBLE |
// WS_CLIPSIBLINGS. Only the caption bits (0x00C00000) have an effect here.
//
// With both caption bits the window is a normal, decorated window. Without them it covers
// its home output: under a window manager that supports it, in the EWMH full-screen state
// (through Qt's own window state, so that Qt and the window manager agree), on that monitor
// (_NET_WM_FULLSCREEN_MONITORS), asking a compositor to stand aside
// (_NET_WM_BYPASS_COMPOSITOR); the window manager then keeps panels below it and holds its
// size and place. Under one that does not, the window only loses its decorations
// (_MOTIF_WM_HINTS, changed while it stays mapped) and the host places it.
//
// Positions and sizes are asked of the X server, never taken from Qt's belief (which lags
// behind, and after a frame change may be wrong); sizes and moves of a mapped window go to
// the X server directly. Every wait for the window manager is a bounded event wait on a
// connection of its own (X11WindowWatch): the user-interface thread never sleeps.
class X11WindowSystem : public WindowSystem {
public:
    static constexpr uint32_t InitialStyle = 0x14CE0000;
    static constexpr uint32_t CaptionBits = 0x00C00000;

    X11WindowSystem();
    ~X11WindowSystem() override;

    uint32_t GetWindowStyle(QWidget *window) override;
    void SetWindowStyle(QWidget *window, uint32_t style) override;
    void SetHomeOutput(QWidget *window, const QRect &output) override;
    // Applies the caption bits and returns once the window manager has answered (or the
    // bound has passed): the frame is there or gone, the full-screen state is in force and
    // the window covers its home output.
    void FrameChanged(QWidget *window) override;
    // _NET_FRAME_EXTENTS while the window is decorated and not full screen; zero otherwise
    // (some window managers leave the old extents on a window they no longer decorate).
    QMargins FrameExtents(QWidget *window) override;
    // The extents last seen with a title bar, or else the window manager's estimate for a
    // window not yet mapped (_NET_REQUEST_FRAME_EXTENTS, where it supports it).
    QMargins DecoratedFrameExtents(QWidget *window) override;
    bool HeldByWindowManager(QWidget *window) override;
    // WM_STATE is IconicState.
    bool Iconic(QWidget *window) override;
    QRect ClientGeometry(QWidget *window) override;
    void ResizeClient(QWidget *window, const QSize &size) override;
    // A window the window manager holds in its full-screen state is not moved: the call
    // only makes sure that it covers its home output (after the window's first map, say).
    void MoveTo(QWidget *window, int x, int y) override;
    void AskToMove(QWidget *window, int x, int y) override;
    QRect WorkArea() override;
    qreal ScaleAt(const QPoint &point) override;
    // Follows the ConfigureNotify events of the window on Qt's own connection.
    void FollowClientSize(QWidget *window, std::function<void()> changed) override;
    void FollowFrame(QWidget *window, std::function<void()> changed) override;

    // The outer top-left corner as the X server has it now; Qt's belief when the window is
    // not mapped.
    QPoint OuterPosition(QWidget *window);

private:
    static constexpr char FullScreenState[] = "_NET_WM_STATE_FULLSCREEN";
    // How long the window manager gets to answer a change: the ones measured answer within
    // 100 ms; the bound only keeps one that ignores a request from stalling the host.
    static constexpr int WindowManagerWaitMs = 500;

    // FrameExtents; with `beforeStyleChange`, for a style word already changed and the
    // window not yet (the frame it still has).
    QMargins FrameExtents(QWidget *window, bool beforeStyleChange);
    // The watch on the window, opened at its first use; null without an X server.
    X11WindowWatch *Watch(QWidget *window);
    void CoverHomeOutput(QWidget *window, X11WindowWatch *watch);
    bool CoversHomeOutput(QWidget *window, X11WindowWatch *watch);
    // Under Xwayland, makes a full-screen window the size of the mode emulated for it.
    void FitEmulatedMode(QWidget *window, X11WindowWatch *watch);
    // The X server is Xwayland (asked once).
    bool OnXwayland(X11WindowWatch *watch);
    bool WaitUntilMapped(QWidget *window, X11WindowWatch *watch);
    // Asks the window manager to put the window's outer corner there (a mapped window).
    void RequestMove(QWidget *window, X11WindowWatch *watch, const QPoint &outer);
    // The follower of the window's ConfigureNotify and frame, made at its first use; null
    // without an X server.
    X11SizeFollower *Follower(QWidget *window);

    std::unique_ptr<X11WindowWatch> watch_;
    std::unique_ptr<X11SizeFollower> sizeFollower_;
    QRect home_;
    // What the window manager supports, read at each frame change: it has a full-screen
    // state; it shows a full-screen window on a chosen monitor.
    bool fullScreenWm_ = false;
    bool fullScreenMonitors_ = false;
    std::optional<bool> xwayland_;   // the server is Xwayland (asked once)
    int failedFits_ = 0;  // fits in a row after which the window manager kept the real size
};

} // namespace platform
