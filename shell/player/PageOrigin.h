#pragma once
// Where the player's page comes from, and the web profile that loads it.
//
// With LANTERNFALL_PAGE_SERVER=1 the loopback server (PageServer): the page's origin is the fixed name
// HostName, which the engine maps to the server's port for this run
// (--host-resolver-rules), so the addresses stay the same from run to run and the
// engine's disk cache and code cache (in the user's cache folder) are used again on the
// next start. Every request of the profile to that name carries the run's key. The
// profile's other storage (visited links, local storage, ...) lives in a folder of this
// run in the user's runtime folder and is removed when the player ends; the page gets no
// local storage at all.
//
// Otherwise, or when the server cannot start, the "lanternfall:" scheme with an
// off-the-record profile that keeps nothing (every start compiles anew).
#include <QObject>
#include <QString>
#include <QUrl>

class QWebEngineProfile;
class AppSchemeHandler;
class PageServer;

class PageOrigin : public QObject {
    Q_OBJECT
public:
    static constexpr char HostName[] = "lanternfall.invalid";

    // Call before anything else of the web engine exists: the server's port goes into the
    // engine's switches.
    PageOrigin(const QString &ruffleDir, QObject *parent);
    ~PageOrigin() override;

    QWebEngineProfile *profile() const { return profile_; }
    bool served() const { return server_ != nullptr; }

    QUrl pageUrl() const;
    QString ruffleUrl() const; // the folder of Ruffle's files, ending in "/"
    QString movieUrl() const;
    // True for an address of the page's own origin (the page may load from it and nothing
    // there is handed to a browser).
    bool isOwn(const QUrl &url) const;

    void setMovie(const QString &path);
    void setConfig(const QByteArray &json);

    // The folder this run's profile storage lives in (empty on the scheme's way).
    QString storageFolder() const { return storage_; }

private:
    QString base() const;

    QWebEngineProfile *profile_ = nullptr;
    PageServer *server_ = nullptr;
    AppSchemeHandler *scheme_ = nullptr;
    QString storage_;
};
