#pragma once
// The global settings every part of the host reads: the stage size, the title and the
// main window, and whether the desktop is in portrait orientation.
#include <QString>
#include <cstdint>

class QWidget;

namespace GameSettings {

extern int16_t GameWidth;     // stage width in pixels (800)
extern int16_t GameHeight;    // stage height in pixels (600)
extern QString GameTitle;     // window caption and the save folder's last component
extern QWidget *MainHwnd;     // the main window
extern bool PortraitDisplay;  // the desktop was taller than wide at start-up

} // namespace GameSettings
