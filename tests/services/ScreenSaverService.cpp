// A desktop's screen-saver service as the tests need it: owns org.freedesktop.ScreenSaver on
// the session bus and answers Inhibit and UnInhibit at /org/freedesktop/ScreenSaver the way
// the desktops do (a cookie per inhibit; the inhibits of a client that leaves the bus are
// dropped). What it holds and every call it got can be asked through the bus:
//   io.github.lanternfall.Test.Inhibitors() -> as   "cookie|application|reason|pid"
//   io.github.lanternfall.Test.Calls()      -> as   "Inhibit application|reason = cookie",
//                                                   "UnInhibit cookie", "Dropped cookie"
// With --hang it never answers Inhibit (a service that hangs).
// Prints "ready" on stdout once it owns the name.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QStringList>

#include <cstdio>

namespace {

struct Inhibit {
    QString application;
    QString reason;
    QString holder; // the client's unique bus name
    uint pid = 0;
};

class ScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    ScreenSaver(QDBusConnection bus, bool hang)
        : bus_(bus), hang_(hang),
          watcher_(QString(), bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                &ScreenSaver::dropHolder);
    }

public slots:
    uint Inhibit(const QString &application, const QString &reason)
    {
        if (hang_) {
            setDelayedReply(true); // and never answered
            calls_ << QStringLiteral("Inhibit %1|%2 (not answered)").arg(application, reason);
            return 0;
        }
        const uint cookie = nextCookie_++;
        const QString holder = message().service();
        inhibits_[cookie] = {application, reason, holder,
                             bus_.interface()->servicePid(holder).value()};
        watcher_.addWatchedService(holder);
        calls_ << QStringLiteral("Inhibit %1|%2 = %3").arg(application, reason).arg(cookie);
        return cookie;
    }

    void UnInhibit(uint cookie)
    {
        calls_ << QStringLiteral("UnInhibit %1").arg(cookie);
        const auto found = inhibits_.find(cookie);
        if (found == inhibits_.end() || found->holder != message().service()) {
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("no inhibit %1 of this client").arg(cookie));
            return;
        }
        inhibits_.erase(found);
    }

public:
    QStringList inhibitors() const
    {
        QStringList list;
        for (auto i = inhibits_.cbegin(); i != inhibits_.cend(); ++i)
            list << QStringLiteral("%1|%2|%3|%4")
                        .arg(i.key())
                        .arg(i->application, i->reason)
                        .arg(i->pid);
        return list;
    }
    QStringList calls() const { return calls_; }

private:
    void dropHolder(const QString &holder)
    {
        for (auto i = inhibits_.begin(); i != inhibits_.end();) {
            if (i->holder == holder) {
                calls_ << QStringLiteral("Dropped %1").arg(i.key());
                i = inhibits_.erase(i);
            } else {
                ++i;
            }
        }
        watcher_.removeWatchedService(holder);
    }

    QDBusConnection bus_;
    const bool hang_;
    QDBusServiceWatcher watcher_;
    QMap<uint, ::Inhibit> inhibits_;
    QStringList calls_;
    uint nextCookie_ = 1;
};

// The test's questions, on the service's object as an interface of its own.
class TestInterface : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.lanternfall.Test")
public:
    explicit TestInterface(ScreenSaver *service) : QDBusAbstractAdaptor(service), service_(service)
    {
    }

public slots:
    QStringList Inhibitors() const { return service_->inhibitors(); }
    QStringList Calls() const { return service_->calls(); }

private:
    const ScreenSaver *service_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool hang = app.arguments().contains(QStringLiteral("--hang"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "screensaver service: no session bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    ScreenSaver service(bus, hang);
    new TestInterface(&service);
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &service,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAdaptors) ||
        !bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver"))) {
        std::fprintf(stderr, "screensaver service: cannot own the name: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "ScreenSaverService.moc"
