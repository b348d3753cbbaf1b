#pragma once
// The player's web page: it never navigates away from our own scheme. Links and new
// windows the movie asks for are handed out as external link requests instead, and the
// page's console goes to stderr when asked for (or always for errors).
#include <QUrl>
#include <QWebEnginePage>

class PlayerPage : public QWebEnginePage {
    Q_OBJECT
public:
    PlayerPage(QWebEngineProfile *profile, QObject *parent);

signals:
    void externalLink(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int line, const QString &source) override;
};
