#include "input/FocusControls.h"
#include "shell/frmMain.h"

bool frmMain::IsScreenSaverActive()
{
    // A failed query reads as "not active".
    return services_.screenSaver && services_.screenSaver->IsActive();
}

bool frmMain::SetScreenSaverActive(bool active)
{
    return services_.screenSaver && services_.screenSaver->SetActive(active);
}

void frmMain::tmrDisableSleep_Timer()
{
    // While the game is the active application, a space and a Backspace are typed into the
    // focused window, which also tells the system that the user is not idle.
    if (!FocusControls::AppActive)
        return;
    if (services_.keySender)
        services_.keySender->SendSpaceAndBackspace();
}
