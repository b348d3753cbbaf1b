#include "shell/player/PageOrigin.h"

#include "shell/player/AppScheme.h"
#include "shell/player/PageServer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

namespace {

// Gives every request of the profile to the page's origin this run's key.
class KeyInterceptor : public QWebEngineUrlRequestInterceptor {
public:
    KeyInterceptor(QByteArray key, QObject *parent)
        : QWebEngineUrlRequestInterceptor(parent), key_(std::move(key))
    {
    }
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (info.requestUrl().host() == QLatin1String(PageOrigin::HostName))
            info.setHttpHeader(PageServer::KeyHeader, key_);
    }

private:
    QByteArray key_;
};

QString StorageFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/lanternfall-page");
}

} // namespace

PageOrigin::PageOrigin(const QString &ruffleDir, QObject *parent) : QObject(parent)
{
    const QString cache =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    storage_ = StorageFolder();
    if (qgetenv("LANTERNFALL_PAGE_SERVER") == "1" && !cache.isEmpty() && !storage_.isEmpty()) {
        server_ = new PageServer(ruffleDir, this);
        if (!server_->start()) {
            qWarning("lanternfall: the player's page server cannot listen on 127.0.0.1; "
                     "the player starts without its kept code");
            delete server_;
            server_ = nullptr;
        }
    }
    if (server_) {
        // Read when the engine starts, which is when the first profile is made (below). The
        // page's origin counts as secure, as the scheme's did.
        const QByteArray origin = "http://" + QByteArray(HostName);
        const QByteArray added = "--host-resolver-rules=\"MAP " + QByteArray(HostName) +
                                 " 127.0.0.1:" + QByteArray::number(server_->port()) +
                                 "\" --unsafely-treat-insecure-origin-as-secure=" + origin;
        const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.isEmpty() ? added : flags + ' ' + added);
        // The profile's storage (visited links, history, ...) is this run's alone; one copy
        // of the host runs per user, so whatever is there is a crashed run's. Qt writes the
        // engine's preferences into the data folder as the profile is made, so that folder
        // is the storage folder while it is.
        QDir(storage_).removeRecursively();
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const bool hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(storage_));
        profile_ = new QWebEngineProfile(QStringLiteral("player"), this);
        profile_->setPersistentStoragePath(storage_);
        if (hadDataHome)
            qputenv("XDG_DATA_HOME", dataHome);
        else
            qunsetenv("XDG_DATA_HOME");
        profile_->setCachePath(cache + QStringLiteral("/lanternfall"));
        profile_->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        profile_->settings()->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
        profile_->setUrlRequestInterceptor(new KeyInterceptor(server_->key(), profile_));
    } else {
        storage_.clear();
        // A profile of our own that keeps nothing on disk.
        profile_ = new QWebEngineProfile(this);
        scheme_ = new AppSchemeHandler(ruffleDir, this);
        profile_->installUrlSchemeHandler(AppScheme::Name, scheme_);
    }
}

PageOrigin::~PageOrigin()
{
    // The profile (a child) would go only after this: its storage goes with it here.
    delete profile_;
    if (!storage_.isEmpty())
        QDir(storage_).removeRecursively();
}

QString PageOrigin::base() const
{
    if (!server_)
        return QStringLiteral("lanternfall://app/");
    return QStringLiteral("http://%1%2/").arg(QLatin1String(HostName), server_->root());
}

QUrl PageOrigin::pageUrl() const
{
    return QUrl(base() + QStringLiteral("index.html"));
}

QString PageOrigin::ruffleUrl() const
{
    return base() + QStringLiteral("ruffle/");
}

QString PageOrigin::movieUrl() const
{
    return base() + QStringLiteral("movie.swf");
}

bool PageOrigin::isOwn(const QUrl &url) const
{
    if (url.scheme() == QLatin1String(AppScheme::Name))
        return true;
    return server_ && url.host() == QLatin1String(HostName);
}

void PageOrigin::setMovie(const QString &path)
{
    if (server_)
        server_->setMovie(path);
    else
        scheme_->setMovie(path);
}

void PageOrigin::setConfig(const QByteArray &json)
{
    if (server_)
        server_->setConfig(json);
    else
        scheme_->setConfigSource([json] { return json; });
}
