#include "input/FocusControls.h"
#include "shell/frmMain.h"

#include <QApplication>

namespace {

const QString InhibitReason = QStringLiteral("Playing in full screen");
// A healthy session bus answers in a few milliseconds; one that does not answer must not
// hold up the start for long.
constexpr int DesktopQueryTimeoutMs = 1000;

} // namespace

bool frmMain::IsScreenSaverActive()
{
    // The system's screen saver is the X server's (a timeout) or the desktop's own idle
    // service: GNOME's and XFCE's set the X timeout to 0 and blank and lock by themselves,
    // so the X timeout alone would read "not active" on exactly the desktops that lock.
    // A failed query reads as "not active".
    if (services_.screenSaver && services_.screenSaver->IsActive())
        return true;
    return services_.screenSaverInhibit &&
           services_.screenSaverInhibit->DesktopScreenSaverRuns(DesktopQueryTimeoutMs);
}

bool frmMain::SetScreenSaverActive(bool active)
{
    const bool accepted = services_.screenSaver && services_.screenSaver->SetActive(active);
    // The desktops' own idle handling (GNOME, KDE, XFCE, Wayland sessions) does not read the
    // X server's timeout: an inhibit on the session bus follows the same switch.
    if (services_.screenSaverInhibit) {
        if (active)
            services_.screenSaverInhibit->Release();
        else
            services_.screenSaverInhibit->Hold(InhibitReason);
    }
    return accepted;
}

void frmMain::tmrDisableSleep_Timer()
{
    // While the game is the active application, a space and a Backspace are typed into the
    // game's window, which also tells the system that the user is not idle.
    if (!FocusControls::AppActive)
        return;
    // Never into another window of ours: a report waiting to be read, or any modal box,
    // would take the keys (a space presses its button).
    if (QApplication::activeModalWidget() || QApplication::activeWindow() != this)
        return;
    if (services_.keySender)
        services_.keySender->SendSpaceAndBackspace(this);
}
