#pragma once
// The loopback HTTP server the player's page, Ruffle's files and the movie come from when
// the page's compiled code is to be kept between runs (the engine keeps code only for
// http resources). It listens on 127.0.0.1 at a port the system picks, on a thread of its
// own, and answers GET requests that carry this run's key (KeyHeader) for the paths
// AppScheme::Resolve knows under root(); every other request gets an empty 404. Files are
// served only from inside the program folder's "ruffle" folder, and the movie.
// Why this opens nothing to other local users: DESIGN.md, "The page's origin".
#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

class QTcpServer;

class PageServer : public QObject {
    Q_OBJECT
public:
    static constexpr char KeyHeader[] = "X-Lanternfall-Key";
    // Connections open at once; more are closed at once.
    static constexpr int MaxConnections = 32;
    // How long a connection may take to send its request.
    static constexpr int RequestBoundMs = 5000;

    explicit PageServer(const QString &ruffleDir, QObject *parent = nullptr);
    ~PageServer() override;

    // Starts listening; false (and nothing running) when it cannot.
    bool start();
    quint16 port() const { return port_; }
    // This run's key: 128 random bits, in hex.
    QByteArray key() const { return key_; }
    // The path every file is under ("/" and a digest of Ruffle's files' names, sizes and
    // times): a new version of the player gets new addresses, so nothing kept for the old
    // one is used for it.
    QString root() const { return root_; }

    void setMovie(const QString &path);
    void setConfig(const QByteArray &json);

    // The answer to one request (its whole head, without the final blank line): the
    // response head and the file to send after it (empty: nothing), or the body.
    struct Answer {
        QByteArray head;
        QString file;
        QByteArray body;
    };
    Answer answer(const QByteArray &requestHead) const;

private:
    QString ruffleDir_;
    QString ruffleCanonical_;
    quint16 port_ = 0;
    QByteArray key_;
    QString root_;
    mutable QMutex mutex_; // guards the two below (read on the server's thread)
    QString moviePath_;
    QByteArray config_;
    QThread thread_;
    QTcpServer *server_ = nullptr; // lives on thread_
};
