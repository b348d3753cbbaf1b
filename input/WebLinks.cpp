#include "shell/frmMain.h"

bool frmMain::OpenBrowser(const QString &URL, bool ForceOpen)
{
    // The survey link opens no page; its one effect is giving the screen saver back.
    Q_UNUSED(URL);
    Q_UNUSED(ForceOpen);
    if (ScreenSaverWasActive_)
        SetScreenSaverActive(true);
    return false;
}

bool frmMain::OpenBrowserForStrategy(const QString &URL)
{
    if (ScreenSaverWasActive_)
        SetScreenSaverActive(true);
    QString address = URL;
    if (!address.startsWith(QStringLiteral("http"), Qt::CaseInsensitive))
        address.prepend(QStringLiteral("http://"));
    return services_.urlOpener && services_.urlOpener->Open(address);
}
