#include "platform/dbus/DBusScreenSaverInhibit.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace platform {
namespace {

const QString Service = QStringLiteral("org.freedesktop.ScreenSaver");
const QString ObjectPath = QStringLiteral("/org/freedesktop/ScreenSaver");

// /dev/null is no folder, so nothing can ever listen there.
constexpr char NoBus[] = "unix:path=/dev/null/lanternfall-no-session-bus";

// The session bus's address (SessionBusAddressFor); empty where there is none.
QString SessionBusAddress()
{
    const QByteArray address = SessionBusAddressFor(qgetenv("DBUS_SESSION_BUS_ADDRESS"),
                                                    qEnvironmentVariable("XDG_RUNTIME_DIR"));
    return address == NoBus ? QString() : QString::fromLocal8Bit(address);
}

void NoteOnStderr(const QString &text)
{
    std::fprintf(stderr, "lanternfall: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

QByteArray SessionBusAddressFor(const QByteArray &given, const QString &runtimeDir)
{
    if (!given.isEmpty())
        return given;
    // The user bus of a systemd session, where libdbus would look next.
    const QString userBus = runtimeDir + QStringLiteral("/bus");
    if (!runtimeDir.isEmpty() && QFileInfo(userBus).exists())
        return "unix:path=" + QFile::encodeName(userBus);
    return NoBus;
}

void SettleSessionBusAddress()
{
    qputenv("DBUS_SESSION_BUS_ADDRESS",
            SessionBusAddressFor(qgetenv("DBUS_SESSION_BUS_ADDRESS"),
                                 qEnvironmentVariable("XDG_RUNTIME_DIR")));
}

// Lives on the object's own thread; only `want` is called from outside.
class DBusScreenSaverInhibit::Worker : public QObject {
public:
    Worker(QString applicationName, Note note, int replyTimeoutMs)
        : applicationName_(std::move(applicationName)), note_(std::move(note)),
          replyTimeoutMs_(replyTimeoutMs),
          connectionName_(QStringLiteral("lanternfall-screensaver-inhibit-%1")
                              .arg(quintptr(this), 0, 16))
    {
    }

    ~Worker() override
    {
        if (connected_)
            QDBusConnection::disconnectFromBus(connectionName_);
    }

    void want(bool held, const QString &reason)
    {
        QMutexLocker lock(&mutex_);
        wanted_ = held;
        reason_ = reason;
    }

    // Brings the bus in line with the last wish. Wishes that came and went while a call was
    // under way need nothing more: only the latest counts.
    void sync()
    {
        bool wanted = false;
        QString reason;
        {
            QMutexLocker lock(&mutex_);
            wanted = wanted_;
            reason = reason_;
        }
        if (wanted == cookie_.has_value() || !connect())
            return;
        if (wanted)
            inhibit(reason);
        else
            uninhibit();
    }

    // Whether the service has an owner on the bus (a desktop screen saver runs).
    bool serviceHasOwner()
    {
        if (!connect())
            return false;
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        message.setArguments({Service});
        const QDBusMessage reply =
            QDBusConnection(connectionName_).call(message, QDBus::Block, replyTimeoutMs_);
        const bool owned = reply.type() == QDBusMessage::ReplyMessage &&
                           reply.arguments().size() == 1 && reply.arguments().constFirst().toBool();
        if (!owned)
            fail(QStringLiteral("no desktop screen saver owns %1 on the session bus").arg(Service));
        return owned;
    }

private:
    bool connect()
    {
        if (connected_)
            return true;
        const QString address = SessionBusAddress();
        if (address.isEmpty()) {
            fail(QStringLiteral("there is no session bus (none in DBUS_SESSION_BUS_ADDRESS or "
                                "$XDG_RUNTIME_DIR/bus)"));
            return false;
        }
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName_);
        if (!bus.isConnected()) {
            const QString why = bus.lastError().message();
            QDBusConnection::disconnectFromBus(connectionName_); // a later wish tries again
            fail(QStringLiteral("cannot connect to the session bus at %1: %2").arg(address, why));
            return false;
        }
        connected_ = true;
        return true;
    }

    QDBusMessage call(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Service, method);
        message.setArguments(arguments);
        return QDBusConnection(connectionName_).call(message, QDBus::Block, replyTimeoutMs_);
    }

    void inhibit(const QString &reason)
    {
        const QDBusMessage reply = call(QStringLiteral("Inhibit"), {applicationName_, reason});
        bool ok = reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1;
        const uint cookie = ok ? reply.arguments().constFirst().toUInt(&ok) : 0;
        if (ok)
            cookie_ = cookie;
        else
            fail(QStringLiteral("%1 did not take the inhibit: %2").arg(Service, why(reply)));
    }

    void uninhibit()
    {
        const QDBusMessage reply = call(QStringLiteral("UnInhibit"), {*cookie_});
        // Given back either way: the cookie means nothing to the service any more, and a
        // service that lost it (restarted, gone) holds nothing of ours.
        cookie_.reset();
        if (reply.type() != QDBusMessage::ReplyMessage)
            fail(QStringLiteral("%1 did not take the inhibit back: %2").arg(Service, why(reply)));
    }

    static QString why(const QDBusMessage &reply)
    {
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reply.errorName() + QStringLiteral(" (") + reply.errorMessage() +
                   QStringLiteral(")");
        return QStringLiteral("an answer of the wrong form (%1)").arg(reply.signature());
    }

    void fail(const QString &what)
    {
        if (std::exchange(noted_, true))
            return;
        const QString text = what + QStringLiteral("; the desktop's own screen saver is not "
                                                   "held off");
        if (note_)
            note_(text);
        else
            NoteOnStderr(text);
    }

    const QString applicationName_;
    const Note note_;
    const int replyTimeoutMs_;
    const QString connectionName_;

    QMutex mutex_;
    bool wanted_ = false;
    QString reason_;

    // The worker thread's own.
    std::optional<uint> cookie_;
    bool connected_ = false;
    bool noted_ = false;
};

DBusScreenSaverInhibit::DBusScreenSaverInhibit(QString applicationName, Note note,
                                               int replyTimeoutMs)
    : worker_(new Worker(std::move(applicationName), std::move(note), replyTimeoutMs)),
      thread_(new QThread)
{
    thread_->setObjectName(QStringLiteral("screensaver-inhibit"));
    worker_->moveToThread(thread_);
    thread_->start();
}

DBusScreenSaverInhibit::~DBusScreenSaverInhibit()
{
    // The inhibit is given back, then the thread ends. A thread that is stuck on a bus that
    // does not answer is not waited for: it is left to the end of the process, which closes
    // the connection (and with it any inhibit) anyway.
    Release();
    Flush(1000);
    thread_->quit();
    if (thread_->wait(QDeadlineTimer(100))) {
        delete worker_;
        delete thread_;
    }
}

void DBusScreenSaverInhibit::Hold(const QString &reason)
{
    worker_->want(true, reason);
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->sync(); }, Qt::QueuedConnection);
}

void DBusScreenSaverInhibit::Release()
{
    worker_->want(false, QString());
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->sync(); }, Qt::QueuedConnection);
}

void DBusScreenSaverInhibit::Flush(int timeoutMs)
{
    // The worker handles its requests in order: once it reaches this one, all before it are
    // done.
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(worker_, [done] { done->release(); }, Qt::QueuedConnection);
    done->tryAcquire(1, timeoutMs);
}

bool DBusScreenSaverInhibit::DesktopScreenSaverRuns(int timeoutMs)
{
    // Asked on the worker's thread like every bus call; an answer that comes too late is
    // dropped with the shared state it fills.
    struct Answer {
        QSemaphore done;
        std::atomic<bool> owned{false};
    };
    auto answer = std::make_shared<Answer>();
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_, answer] {
            answer->owned = w->serviceHasOwner();
            answer->done.release();
        },
        Qt::QueuedConnection);
    return answer->done.tryAcquire(1, timeoutMs) && answer->owned;
}

} // namespace platform
