#include "shell/GameSettings.h"

namespace GameSettings {

int16_t GameWidth = 0;
int16_t GameHeight = 0;
QString GameTitle;
QWidget *MainHwnd = nullptr;
bool PortraitDisplay = false;

} // namespace GameSettings
