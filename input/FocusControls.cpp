#include "input/FocusControls.h"

namespace FocusControls {

bool AppActive = false;
bool ReturnToFullScreen = false;

} // namespace FocusControls
