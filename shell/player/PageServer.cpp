#include "shell/player/PageServer.h"

#include "shell/player/AppScheme.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qsizetype MaxRequestHead = 16 * 1024;
constexpr qint64 Chunk = 64 * 1024;

const QByteArray NotFound = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// Compares without an early exit, so the time taken tells nothing about the key.
bool SameKey(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

// Ruffle's files as they are now: their names, sizes and times.
QString VersionOf(const QString &ruffleDir)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QFileInfoList files = QDir(ruffleDir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        hash.addData(file.fileName().toUtf8());
        hash.addData(QByteArray::number(file.size()));
        hash.addData(QByteArray::number(file.lastModified().toMSecsSinceEpoch()));
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

// One connection: it reads one request head, answers it and closes. A connection that
// does not send a whole head in time, or sends too much, is dropped.
class Connection : public QObject {
public:
    Connection(QTcpSocket *socket, const PageServer *server, QObject *parent)
        : QObject(parent), socket_(socket), server_(server)
    {
        socket_->setParent(this);
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
        connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::pump);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(socket_, &QTcpSocket::errorOccurred, this, &QObject::deleteLater);
        QTimer::singleShot(PageServer::RequestBoundMs, this, [this] {
            if (!answered_) {
                answered_ = true;
                socket_->abort();
                deleteLater();
            }
        });
    }

private:
    void read()
    {
        if (answered_) {
            socket_->readAll();
            return;
        }
        head_ += socket_->readAll();
        const qsizetype end = head_.indexOf("\r\n\r\n");
        if (end < 0 && head_.size() <= MaxRequestHead)
            return;
        answered_ = true;
        const PageServer::Answer answer =
            end < 0 ? PageServer::Answer{NotFound, {}, {}} : server_->answer(head_.left(end));
        socket_->write(answer.head);
        socket_->write(answer.body);
        if (!answer.file.isEmpty()) {
            file_.setFileName(answer.file);
            if (!file_.open(QIODevice::ReadOnly)) {
                socket_->abort(); // the head promised a body that cannot come
                deleteLater();
                return;
            }
        }
        pump();
    }

    void pump()
    {
        if (!answered_)
            return;
        while (file_.isOpen() && !file_.atEnd() && socket_->bytesToWrite() < 4 * Chunk) {
            const QByteArray data = file_.read(Chunk);
            if (data.isEmpty())
                break;
            socket_->write(data);
        }
        if (!file_.isOpen() || file_.atEnd()) {
            file_.close();
            socket_->disconnectFromHost(); // after what is written has gone
        }
    }

    QTcpSocket *socket_;
    const PageServer *server_;
    QByteArray head_;
    QFile file_;
    bool answered_ = false;
};

} // namespace

PageServer::PageServer(const QString &ruffleDir, QObject *parent)
    : QObject(parent), ruffleDir_(ruffleDir)
{
    thread_.setObjectName(QStringLiteral("page server"));
}

PageServer::~PageServer()
{
    if (server_) {
        QMetaObject::invokeMethod(server_, [this] { delete server_; },
                                  Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
}

bool PageServer::start()
{
    ruffleCanonical_ = QFileInfo(ruffleDir_).canonicalFilePath();
    if (ruffleCanonical_.isEmpty())
        return false;
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    key_ = QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
    root_ = u'/' + VersionOf(ruffleDir_);

    thread_.start();
    server_ = new QTcpServer;
    server_->moveToThread(&thread_);
    bool listening = false;
    QMetaObject::invokeMethod(
        server_,
        [this, &listening] {
            server_->setMaxPendingConnections(MaxConnections);
            listening = server_->listen(QHostAddress::LocalHost, 0);
            port_ = server_->serverPort();
            QObject::connect(server_, &QTcpServer::newConnection, server_, [this] {
                while (QTcpSocket *socket = server_->nextPendingConnection()) {
                    if (server_->findChildren<Connection *>().size() >= MaxConnections)
                        socket->abort();
                    if (socket->state() == QAbstractSocket::ConnectedState)
                        new Connection(socket, this, server_);
                    else
                        socket->deleteLater();
                }
            });
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        QMetaObject::invokeMethod(server_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
        server_ = nullptr;
        thread_.quit();
        thread_.wait();
    }
    return listening;
}

void PageServer::setMovie(const QString &path)
{
    QMutexLocker lock(&mutex_);
    moviePath_ = path;
}

void PageServer::setConfig(const QByteArray &json)
{
    QMutexLocker lock(&mutex_);
    config_ = json;
}

PageServer::Answer PageServer::answer(const QByteArray &requestHead) const
{
    const QList<QByteArray> lines = requestHead.split('\n');
    const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
    if (request.size() != 3 || request[0] != "GET" || !request[2].startsWith("HTTP/1."))
        return {NotFound, {}, {}};
    bool keyed = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).trimmed().compare(KeyHeader, Qt::CaseInsensitive) == 0)
            keyed = SameKey(lines[i].mid(colon + 1).trimmed(), key_);
    }
    // Only our own addresses, as the page asks for them: never encoded, never a query.
    const QString target = QString::fromLatin1(request[1]);
    if (!keyed || !target.startsWith(root_ + u'/') || target.contains(u'%') ||
        target.contains(u'?') || target.contains(u'#'))
        return {NotFound, {}, {}};

    QString movie;
    QByteArray config;
    {
        QMutexLocker lock(&mutex_);
        movie = moviePath_;
        config = config_;
    }
    const AppScheme::Resource resource = AppScheme::Resolve(target.mid(root_.size()), ruffleDir_, movie);
    Answer answer;
    QByteArray type = "application/json";
    qint64 size = 0;
    if (resource.config) {
        answer.body = config;
        size = config.size();
    } else if (resource.file.startsWith(u":/")) {
        QFile file(resource.file);
        if (!file.open(QIODevice::ReadOnly))
            return {NotFound, {}, {}};
        answer.body = file.readAll();
        size = answer.body.size();
        type = AppScheme::MimeType(resource.file);
    } else {
        // A regular file, really inside the player's folder (no link out of it), or the movie.
        const QFileInfo info(resource.file);
        const QString real = info.canonicalFilePath();
        const bool inside = resource.ruffleFile ? real.startsWith(ruffleCanonical_ + u'/')
                                                : !real.isEmpty() &&
                                                      real == QFileInfo(movie).canonicalFilePath();
        if (resource.file.isEmpty() || !inside || !info.isFile() || !info.isReadable())
            return {NotFound, {}, {}};
        answer.file = real;
        size = info.size();
        type = AppScheme::MimeType(resource.file);
    }
    // Ruffle's files live under the version's root: the engine may keep them, and the code
    // it compiled from them, for as long as it likes. The page and the movie are asked for
    // anew each run.
    answer.head = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                  "\r\nContent-Length: " + QByteArray::number(size) + "\r\nCache-Control: " +
                  (resource.ruffleFile ? "max-age=31536000, immutable" : "no-store") +
                  "\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    return answer;
}
