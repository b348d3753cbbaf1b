#pragma once
// The focus state shared by the main window's filter, the window modes and the keep-awake
// timer.
namespace FocusControls {

// The host is the active application; the keep-awake timer acts only while it is true.
extern bool AppActive;
// The window was minimised out of full-screen mode by a loss of focus and re-enters full
// screen once it is back in its normal state.
extern bool ReturnToFullScreen;

} // namespace FocusControls
