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
