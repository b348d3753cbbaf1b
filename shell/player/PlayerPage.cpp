#include "shell/player/PlayerPage.h"

#include "shell/player/AppScheme.h"

#include <QFile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

// The page a window.open() gets: it catches the address of its first navigation, hands
// it to the player's page as a link, and loads nothing.
class LinkCatcher : public QWebEnginePage {
public:
    LinkCatcher(QWebEngineProfile *profile, PlayerPage *owner)
        : QWebEnginePage(profile, owner), owner_(owner)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override
    {
        if (!done_) {
            done_ = true;
            emit owner_->externalLink(url);
            deleteLater();
        }
        return false;
    }

private:
    PlayerPage *owner_;
    bool done_ = false;
};

} // namespace

PlayerPage::PlayerPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 6, 0)
    // Before 6.6 the scheme cannot allow fetch() (AppScheme::Register sets FetchApiAllowed
    // from 6.6 on), and Ruffle loads its files with it: a script that runs before the page's
    // own routes our scheme's requests through XMLHttpRequest.
    QFile file(QStringLiteral(":/page/fetch-shim.js"));
    if (!file.open(QIODevice::ReadOnly))
        return; // compiled in: cannot fail
    QWebEngineScript shim;
    shim.setName(QStringLiteral("fetch-shim"));
    shim.setSourceCode(QString::fromUtf8(file.readAll()));
    shim.setInjectionPoint(QWebEngineScript::DocumentCreation);
    shim.setWorldId(QWebEngineScript::MainWorld);
    shim.setRunsOnSubFrames(false);
    scripts().insert(shim);
#endif
}

bool PlayerPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (url.scheme() == QLatin1String(AppScheme::Name) && url.host() == u"app" &&
        url.path() == u"/index.html" && isMainFrame &&
        (type == NavigationTypeTyped || type == NavigationTypeReload))
        return true;
    // Only the page itself leaves for the browser; a frame inside it loads nothing.
    if (url.scheme() != QLatin1String(AppScheme::Name) && isMainFrame)
        emit externalLink(url);
    return false;
}

QWebEnginePage *PlayerPage::createWindow(WebWindowType)
{
    return new LinkCatcher(profile(), this);
}

void PlayerPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                          const QString &message, int line,
                                          const QString &source)
{
    if (level == ErrorMessageLevel || qEnvironmentVariableIsSet("LANTERNFALL_PAGE_LOG"))
        qInfo("player page: %s (%s:%d)", qPrintable(message), qPrintable(source), line);
}
