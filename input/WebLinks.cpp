#include "shell/frmMain.h"

#include <QUrl>
#include <cstdio>

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

void frmMain::OpenExternalLink(const QUrl &url)
{
    // The movie's own links and navigateToURL open in the user's browser, never inside the
    // player. Only web and mail addresses leave the player; local files and scripts do not.
    const QString scheme = url.scheme().toLower();
    if (scheme != u"http" && scheme != u"https" && scheme != u"mailto") {
        std::fprintf(stderr, "lanternfall: the movie's link to \"%s\" was not opened\n",
                     qPrintable(url.toDisplayString()));
        return;
    }
    // The player adds an empty query ("...?") to a link without variables; the movie asked
    // for the address without it.
    QUrl address = url;
    if (address.hasQuery() && address.query().isEmpty())
        address.setQuery(QString());
    if (services_.urlOpener)
        services_.urlOpener->Open(address.toString(QUrl::FullyEncoded));
}
