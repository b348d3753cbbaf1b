#include "platform/Watchdog.h"

#include "platform/x11/X11DisplayModes.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <X11/Xlib.h>

#include <cerrno>
#include <optional>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::Watchdog {
namespace {

// What is to be given back. The same text goes to the guardian and into the state file:
//   pid <host pid>
//   desktop <restore data, percent-encoded>
//   screensaver <seconds> <display name>
//   modes <display name>
struct Pending {
    pid_t host = 0;
    QByteArray desktop;
    int screenSaverTimeout = 0;
    QByteArray screenSaverDisplay;
    // A display that has modes of ours on its outputs (they stay while the host runs).
    std::optional<QByteArray> modesDisplay;

    // What the desktop would miss: worth the state file for a start after a worse end.
    bool Missed() const { return !desktop.isEmpty() || screenSaverTimeout > 0; }
    bool Empty() const { return !Missed() && !modesDisplay; }
};

const QByteArray KeptInText = " =:.,";

QByteArray Serialise(const Pending &p)
{
    QByteArray text = "pid " + QByteArray::number(p.host) + '\n';
    if (!p.desktop.isEmpty())
        text += "desktop " + p.desktop.toPercentEncoding(KeptInText) + '\n';
    if (p.screenSaverTimeout > 0)
        text += "screensaver " + QByteArray::number(p.screenSaverTimeout) + ' '
                + p.screenSaverDisplay.toPercentEncoding(KeptInText) + '\n';
    if (p.modesDisplay)
        text += "modes " + p.modesDisplay->toPercentEncoding(KeptInText) + '\n';
    return text;
}

Pending Parse(const QByteArray &text)
{
    Pending p;
    for (const QByteArray &line : text.split('\n')) {
        const int space = line.indexOf(' ');
        const QByteArray key = line.left(space), value = space < 0 ? QByteArray() : line.mid(space + 1);
        if (key == "pid") {
            p.host = pid_t(value.toInt());
        } else if (key == "desktop") {
            p.desktop = QByteArray::fromPercentEncoding(value);
        } else if (key == "screensaver") {
            const QList<QByteArray> words = value.split(' ');
            p.screenSaverTimeout = words.value(0).toInt();
            p.screenSaverDisplay = QByteArray::fromPercentEncoding(words.value(1));
        } else if (key == "modes") {
            p.modesDisplay = QByteArray::fromPercentEncoding(value);
        }
    }
    return p;
}

// --- Giving back (the guardian, and the repair at start) ----------------------------------

Display *Open(const QByteArray &name)
{
    return XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
}

// True when nothing is left pending afterwards. An X server that cannot be reached any
// more has nothing left to give back to: it took the modes with it.
bool GiveBack(const Pending &p)
{
    bool done = true;
    if (!p.desktop.isEmpty()) {
        if (Display *d = Open(DisplayNameOf(p.desktop))) {
            if (!RestoreDisplayMode(d, p.desktop)) {
                std::fprintf(stderr, "lanternfall: could not give the desktop its display "
                                     "mode back\n");
                done = false;
            }
            XCloseDisplay(d);
        }
    } else if (p.modesDisplay) {
        // The desktop's mode is back; the modes of ours that nothing shows go.
        if (Display *d = Open(*p.modesDisplay)) {
            RemoveAddedModes(d);
            XCloseDisplay(d);
        }
    }
    if (p.screenSaverTimeout > 0) {
        if (Display *d = Open(p.screenSaverDisplay)) {
            int timeout = 0, interval = 0, blanking = 0, exposures = 0;
            XGetScreenSaver(d, &timeout, &interval, &blanking, &exposures);
            // Only while it is still off as we left it: a timeout set since is the user's.
            if (timeout == 0)
                XSetScreenSaver(d, p.screenSaverTimeout, interval, blanking, exposures);
            XSync(d, False);
            XCloseDisplay(d);
        }
    }
    return done;
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

void RemoveStateFileOf(const QString &path, pid_t host)
{
    if (Parse(ReadFile(path)).host == host)
        QFile::remove(path);
}

// --- The guardian -----------------------------------------------------------------------

int EndOnXConnectionLoss(Display *)
{
    ::_exit(3);
}

[[noreturn]] void RunGuardian(int fd, pid_t host, const QString &statePath)
{
    ::prctl(PR_SET_NAME, "lf-watchdog", 0, 0, 0);
    // Ctrl+C, a hang-up or a polite end of the terminal's process group must leave the
    // guardian running: the host's end is its signal to act.
    for (int sig : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGTSTP, SIGPIPE})
        std::signal(sig, SIG_IGN);
    if (::chdir("/") != 0) {
        // Nothing depends on the working folder; staying where we are is harmless.
    }
    // Only the socket and stderr (for a line when giving back fails) stay open.
    if (fd != 3) {
        ::dup2(fd, 3);
        ::close(fd);
    }
    if (int null = ::open("/dev/null", O_RDWR); null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        if (null > 3)
            ::close(null);
    }
    ::close_range(4, ~0U, 0);
    XSetIOErrorHandler(&EndOnXConnectionLoss);

    Pending pending;
    QByteArray buffer;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(3, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        buffer.append(chunk, n);
        // Each message: a 32-bit length, then the state text.
        while (buffer.size() >= 4) {
            uint32_t length = 0;
            std::memcpy(&length, buffer.constData(), 4);
            if (buffer.size() < qsizetype(4 + length))
                break;
            pending = Parse(buffer.mid(4, length));
            buffer.remove(0, 4 + length);
        }
    }
    if (!pending.Empty() && GiveBack(pending))
        RemoveStateFileOf(statePath, host);
    ::_exit(0);
}

// --- The host's side --------------------------------------------------------------------

bool started = false;
int guardianSocket = -1;
pid_t guardian = 0;
QString statePath;
Pending pending;

void Publish()
{
    pending.host = ::getpid();
    const QByteArray text = Serialise(pending);

    if (!statePath.isEmpty()) {
        // Modes left on an output are taken up and removed by the next run anyway.
        if (!pending.Missed()) {
            QFile::remove(statePath);
        } else {
            QDir().mkpath(QFileInfo(statePath).path());
            QSaveFile file(statePath);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()
                || !file.commit())
                std::fprintf(stderr, "lanternfall: cannot write %s\n", qPrintable(statePath));
        }
    }

    if (guardianSocket < 0)
        return;
    const uint32_t length = uint32_t(text.size());
    QByteArray message(reinterpret_cast<const char *>(&length), 4);
    message += text;
    const char *at = message.constData();
    qsizetype left = message.size();
    while (left > 0) {
        // MSG_NOSIGNAL: a guardian that is gone must not take the host with it (SIGPIPE).
        const ssize_t n = ::send(guardianSocket, at, size_t(left), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::fprintf(stderr, "lanternfall: the watchdog is gone (%s); the state file "
                                 "remains for the next start\n",
                         std::strerror(errno));
            ::close(guardianSocket);
            guardianSocket = -1;
            return;
        }
        at += n;
        left -= n;
    }
}

extern "C" void EndOnSignal(int sig)
{
    ::_exit(128 + sig);
}

bool SameProgramRuns(pid_t pid)
{
    if (pid <= 0 || ::kill(pid, 0) != 0)
        return false; // gone, or another user's process that took over the number
    char self[PATH_MAX] = {}, other[PATH_MAX] = {};
    const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t a = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const ssize_t b = ::readlink(link.constData(), other, sizeof other - 1);
    // An ended process whose parent has not collected it yet has no executable any more.
    return a > 0 && b > 0 && std::strcmp(self, other) == 0;
}

} // namespace

QString StateFilePath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.cache");
    return dir + QStringLiteral("/lanternfall-restore.state");
}

void Start()
{
    if (started)
        return;
    started = true;
    statePath = StateFilePath();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::perror("lanternfall: no watchdog (socketpair)");
        return;
    }
    const pid_t host = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("lanternfall: no watchdog (fork)");
        ::close(ends[0]);
        ::close(ends[1]);
        return;
    }
    if (child == 0) {
        ::close(ends[0]);
        RunGuardian(ends[1], host, statePath);
    }
    ::close(ends[1]);
    guardianSocket = ends[0];
    guardian = child;
}

void InstallSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = &EndOnSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

void RepairAfterUncleanEnd()
{
    const QString path = statePath.isEmpty() ? StateFilePath() : statePath;
    if (!QFile::exists(path))
        return;
    const Pending left = Parse(ReadFile(path));
    if (left.host == ::getpid() || SameProgramRuns(left.host))
        return;
    GiveBack(left);
    // Whatever could not be given back now would not be later either.
    QFile::remove(path);
}

void DesktopModeToRestore(const QByteArray &restoreData)
{
    if (!started)
        return;
    pending.desktop = restoreData;
    Publish();
}

void DesktopModeRestored()
{
    if (!started || pending.desktop.isEmpty())
        return;
    pending.desktop.clear();
    Publish();
}

void AddedModesOn(const QByteArray &displayName)
{
    if (!started || pending.modesDisplay == displayName)
        return;
    pending.modesDisplay = displayName;
    Publish();
}

void ScreenSaverTimeoutToRestore(int seconds, const QByteArray &displayName)
{
    if (!started || seconds <= 0)
        return;
    pending.screenSaverTimeout = seconds;
    pending.screenSaverDisplay = displayName;
    Publish();
}

void ScreenSaverRestored()
{
    if (!started || pending.screenSaverTimeout <= 0)
        return;
    pending.screenSaverTimeout = 0;
    pending.screenSaverDisplay.clear();
    Publish();
}

void ForgetAll()
{
    if (!started)
        return;
    pending = Pending();
    Publish();
}

pid_t GuardianPid()
{
    return guardian;
}

} // namespace platform::Watchdog
