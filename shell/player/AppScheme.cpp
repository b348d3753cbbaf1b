#include "shell/player/AppScheme.h"

#include <QBuffer>
#include <QFile>
#include <QUrl>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

namespace AppScheme {

void Register()
{
    QWebEngineUrlScheme scheme(Name);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    QWebEngineUrlScheme::Flags flags =
        QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
        QWebEngineUrlScheme::CorsEnabled | QWebEngineUrlScheme::ContentSecurityPolicyIgnored;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    // Ruffle loads its wasm and the movie with fetch(); before 6.6 the page's fetch shim
    // does it instead (PlayerPage).
    flags |= QWebEngineUrlScheme::FetchApiAllowed;
#endif
    scheme.setFlags(flags);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QByteArray MimeType(const QString &fileName)
{
    if (fileName.endsWith(u".wasm"))
        return "application/wasm";
    if (fileName.endsWith(u".js"))
        return "text/javascript";
    if (fileName.endsWith(u".html"))
        return "text/html";
    if (fileName.endsWith(u".json"))
        return "application/json";
    if (fileName.endsWith(u".swf"))
        return "application/x-shockwave-flash";
    return "application/octet-stream";
}

} // namespace AppScheme

AppSchemeHandler::AppSchemeHandler(QString ruffleDir, QObject *parent)
    : QWebEngineUrlSchemeHandler(parent), ruffleDir_(std::move(ruffleDir))
{
}

void AppSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    const QUrl url = job->requestUrl();
    if (url.host() != u"app" || job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QString path = url.path();
    QString file;
    if (path == u"/index.html")
        file = QStringLiteral(":/page/index.html");
    else if (path == u"/host.js")
        file = QStringLiteral(":/page/host.js");
    else if (path == u"/qwebchannel.js")
        file = QStringLiteral(":/qtwebchannel/qwebchannel.js");
    else if (path == u"/movie.swf")
        file = moviePath_;
    else if (path == u"/config.json") {
        auto *buffer = new QBuffer(job);
        buffer->setData(config_ ? config_() : QByteArray("{}"));
        job->reply("application/json", buffer);
        return;
    } else if (path.startsWith(u"/ruffle/")) {
        // A bare file name of the player's folder; nothing below or above it.
        const QString name = path.mid(8);
        if (!name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u".." &&
            name != u".")
            file = ruffleDir_ + u'/' + name;
    }
    if (file.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    auto *device = new QFile(file, job);
    if (!device->open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    job->reply(AppScheme::MimeType(file), device);
}
