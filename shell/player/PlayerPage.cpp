#include "shell/player/PlayerPage.h"

#include "shell/player/AppScheme.h"

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
