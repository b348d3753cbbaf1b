#pragma once
#include "platform/Services.h"

#include <QByteArray>
#include <functional>

class QThread;

namespace platform {

// The session bus's address for the whole process and every process it starts (the web
// engine's included): the one given, else the user's bus at $XDG_RUNTIME_DIR/bus, else an
// address at which no bus can ever be. Without an address libdbus and GLib start a bus of
// their own for the X display ("autolaunch": dbus-launch and a dbus-daemon), which no
// desktop service is on and which outlives the program.
QByteArray SessionBusAddressFor(const QByteArray &given, const QString &runtimeDir);
// Puts that address into the environment. Call in main() before any library may look for
// the bus, after the environment the user's programs get (links) has been taken.
void SettleSessionBusAddress();

// The freedesktop screen-saver inhibit: Inhibit and UnInhibit of org.freedesktop.ScreenSaver
// at /org/freedesktop/ScreenSaver on the session bus, which GNOME, KDE, XFCE and the Wayland
// desktops honour. The desktop drops an inhibit when its holder's bus connection closes, so
// an end of the program in any way (kill -9 included) leaves none behind.
//
// The bus is only ever touched on a thread of this object's own: connecting to a session
// bus that does not answer blocks without end inside libdbus (measured), and a call waits
// up to the reply time-out. Hold and Release only note what is wanted and return.
//
// No session bus, or no service that owns the name: the first failure is noted once (by
// default one line on stderr), and nothing else changes.
class DBusScreenSaverInhibit : public ScreenSaverInhibit {
public:
    using Note = std::function<void(const QString &)>;

    explicit DBusScreenSaverInhibit(QString applicationName, Note note = {},
                                    int replyTimeoutMs = 10000);
    ~DBusScreenSaverInhibit() override;

    void Hold(const QString &reason) override;
    void Release() override;
    void Flush(int timeoutMs) override;
    bool DesktopScreenSaverRuns(int timeoutMs) override;

private:
    class Worker;
    Worker *worker_;
    QThread *thread_;
};

} // namespace platform
