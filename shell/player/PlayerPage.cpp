#include "shell/player/PlayerPage.h"

#include "shell/player/PageOrigin.h"

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

PlayerPage::PlayerPage(const PageOrigin *origin, QObject *parent)
    : QWebEnginePage(origin->profile(), parent), origin_(origin)
{
}

bool PlayerPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (url == origin_->pageUrl() && isMainFrame &&
        (type == NavigationTypeTyped || type == NavigationTypeReload))
        return true;
    // Only the page itself leaves for the browser; a frame inside it loads nothing.
    if (!origin_->isOwn(url) && isMainFrame)
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
