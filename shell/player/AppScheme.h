#pragma once
// The "lanternfall:" URL scheme through which the player's page, Ruffle's files and the
// movie are served. Nothing else is reachable through it: the page and the channel script
// from the program's resources, files of the program folder's "ruffle" folder by bare
// name, the current movie, and the generated player configuration.
#include <QByteArray>
#include <QString>
#include <QWebEngineUrlSchemeHandler>
#include <functional>

namespace AppScheme {

inline constexpr char Name[] = "lanternfall";
inline constexpr char PageUrl[] = "lanternfall://app/index.html";
inline constexpr char RufflePath[] = "lanternfall://app/ruffle/";
inline constexpr char MovieUrl[] = "lanternfall://app/movie.swf";

// Must run before the QApplication is created.
void Register();

// The MIME type a file is served with, by its extension.
QByteArray MimeType(const QString &fileName);

} // namespace AppScheme

class AppSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    AppSchemeHandler(QString ruffleDir, QObject *parent = nullptr);

    void setMovie(const QString &path) { moviePath_ = path; }
    void setConfigSource(std::function<QByteArray()> source) { config_ = std::move(source); }

    void requestStarted(QWebEngineUrlRequestJob *job) override;

private:
    QString ruffleDir_;
    QString moviePath_;
    std::function<QByteArray()> config_;
};
