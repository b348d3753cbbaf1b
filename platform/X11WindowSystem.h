#pragma once
// The main window's style word, title bar and real position on X11.
#include "platform/Services.h"

#include <QPoint>

namespace platform {

// The style word lives with the window (a property of the widget), so that it starts as
// the style of a normal top-level window with a title bar and follows the window's life:
// WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_VISIBLE |
// WS_CLIPSIBLINGS. Only the caption bits (0x00C00000) have an effect here: both set means
// the window manager decorates the window, otherwise it does not. They reach the window
// manager through _MOTIF_WM_HINTS on the native window, changed while the window stays
// mapped (Qt::FramelessWindowHint would unmap it and lose its activation).
//
// Positions are checked with the X server, not with Qt's belief: after a frame change Qt
// may think the window is where it is not.
class X11WindowSystem : public WindowSystem {
public:
    static constexpr uint32_t InitialStyle = 0x14CE0000;
    static constexpr uint32_t CaptionBits = 0x00C00000;

    uint32_t GetWindowStyle(QWidget *window) override;
    void SetWindowStyle(QWidget *window, uint32_t style) override;
    // Sets the decorations from the caption bits, then waits (a bounded time) for the
    // window manager to have re-framed a mapped window, so that FrameExtents answers for
    // the new frame.
    void FrameChanged(QWidget *window) override;
    // _NET_FRAME_EXTENTS of the window; zero when the window manager sets none.
    QMargins FrameExtents(QWidget *window) override;
    // The frame the window manager gives the window when it is decorated, whether it is
    // decorated now or not: the extents last seen with a title bar, or else the window
    // manager's estimate for a window not yet mapped (_NET_REQUEST_FRAME_EXTENTS). Zero
    // when it cannot be known.
    QMargins DecoratedFrameExtents(QWidget *window) override;
    // The outer top-left corner as the X server has it now (Qt's frameGeometry() lags
    // behind until its events are processed, and keeps the old frame for a while after a
    // frame change). Qt's belief when the window is not mapped.
    QPoint OuterPosition(QWidget *window);
    // Moves the window through Qt (for Qt's bookkeeping), then moves the native window
    // itself to the same place and waits (bounded) until the X server shows it there.
    void MoveTo(QWidget *window, int x, int y) override;
};

} // namespace platform
