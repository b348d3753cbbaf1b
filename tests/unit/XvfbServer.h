#pragma once
// A private Xvfb for tests that need a real X server, and small helpers to ask it (through
// xrandr and Xlib) what it really shows. The server ends with the object.
//
// Include it after GoogleTest and the Qt headers: Xlib's macros (None, Bool, Status) break
// their declarations.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMargins>
#include <QPoint>
#include <QSize>
#include <QString>

#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Readable failure messages for the Qt value types the X11 tests compare.
inline void PrintTo(const QPoint &p, std::ostream *os) { *os << '(' << p.x() << ", " << p.y() << ')'; }
inline void PrintTo(const QSize &s, std::ostream *os) { *os << s.width() << 'x' << s.height(); }
inline void PrintTo(const QMargins &m, std::ostream *os)
{
    *os << "left " << m.left() << " top " << m.top() << " right " << m.right() << " bottom "
        << m.bottom();
}
inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.constData() << '"'; }

namespace testing_x11 {

inline bool OnPath(const char *program)
{
    for (const QByteArray &dir : qgetenv("PATH").split(':'))
        if (!dir.isEmpty() && ::access((dir + '/' + program).constData(), X_OK) == 0)
            return true;
    return false;
}

// Waits for a condition, polling; true when it held before the deadline.
template <typename Condition>
bool WaitUntil(Condition condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (condition())
            return true;
        if (timer.elapsed() >= timeoutMs)
            return false;
        ::usleep(5000);
    }
}

// Runs a command line through the shell with DISPLAY set; its standard output.
inline QByteArray RunCommand(const QByteArray &display, const QByteArray &command, int *status = nullptr)
{
    const QByteArray line = "DISPLAY=" + display + ' ' + command + " 2>/dev/null";
    QByteArray out;
    if (FILE *pipe = ::popen(line.constData(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, qsizetype(n));
        const int rc = ::pclose(pipe);
        if (status)
            *status = rc;
    }
    return out;
}

// A process has ended (a zombie that nobody collected counts as ended).
inline bool ProcessEnded(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "Z";
}

// Starts a program with extra environment entries ("NAME=value"); its process id.
// Its output goes to the test's own.
inline pid_t StartProgram(QList<QByteArray> args, const QList<QByteArray> &environment)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        for (const QByteArray &entry : environment) {
            const int eq = entry.indexOf('=');
            ::setenv(entry.left(eq).constData(), entry.mid(eq + 1).constData(), 1);
        }
        std::vector<char *> argv;
        for (QByteArray &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Ends a program that StartProgram started, if it still runs; its wait status.
inline int EndProgram(pid_t pid)
{
    int status = 0;
    if (pid <= 0)
        return status;
    if (::waitpid(pid, &status, WNOHANG) == pid)
        return status;
    ::kill(pid, SIGTERM);
    if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 5000)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return status;
}

class XvfbServer {
public:
    static bool Installed() { return OnPath("Xvfb") && OnPath("xrandr"); }

    // Starts "Xvfb -screen 0 <screen>" on a free display number; extra arguments follow.
    bool Start(const QByteArray &screen = "1920x1080x24", const QList<QByteArray> &extra = {})
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            ::setpgid(0, 0); // a Ctrl+C in a test's process group is not the server's
            ::prctl(PR_SET_PDEATHSIG, SIGTERM); // nor does it outlive a test that crashed
            const QByteArray fd = QByteArray::number(fds[1]);
            QList<QByteArray> args{"Xvfb", "-displayfd", fd, "-screen", "0", screen,
                                   "-noreset", "-nolisten", "tcp"};
            args += extra;
            std::vector<char *> argv;
            for (QByteArray &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            if (FILE *null = std::fopen("/dev/null", "w")) {
                ::dup2(fileno(null), 1);
                ::dup2(fileno(null), 2);
            }
            ::execvp("Xvfb", argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            return false;
        }
        // Xvfb writes its display number once it accepts connections.
        QByteArray number;
        pollfd p{fds[0], POLLIN, 0};
        while (!number.endsWith('\n') && ::poll(&p, 1, 10000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1)
                break;
            number.append(c);
        }
        ::close(fds[0]);
        if (!number.endsWith('\n'))
            return false;
        name_ = ':' + number.trimmed();
        return true;
    }

    ~XvfbServer() { Stop(); }

    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            if (!WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 5000)) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
            pid_ = 0;
        }
    }

    const QByteArray &Name() const { return name_; }

    QByteArray Xrandr(const QByteArray &args, int *status = nullptr) const
    {
        return RunCommand(name_, "xrandr " + args, status);
    }

    // The desktop the display-mode tests start from: 1920x1080 with real timings (59.96 Hz),
    // in place of Xvfb's own timing-less mode.
    bool GiveRealTimedDesktop() const
    {
        int a = -1, b = -1, c = -1;
        Xrandr("--newmode 1920x1080_60.00 173.00 1920 2048 2248 2576 1080 1083 1088 1120 "
               "-hsync +vsync",
               &a);
        Xrandr("--addmode screen 1920x1080_60.00", &b);
        Xrandr("--output screen --mode 1920x1080_60.00", &c);
        return a == 0 && b == 0 && c == 0;
    }

    // "current W x H" of xrandr's screen line.
    QByteArray ScreenSize() const
    {
        const QByteArray out = Xrandr("");
        const int at = out.indexOf("current ");
        if (at < 0)
            return {};
        const int end = out.indexOf(',', at);
        return out.mid(at + 8, end - at - 8).replace(" ", "");
    }

    // The name of the mode the output shows now, from xrandr --verbose.
    QByteArray ModeInForce() const
    {
        for (const QByteArray &line : Xrandr("--verbose").split('\n'))
            if (line.startsWith("  ") && line.contains("*current"))
                return line.trimmed().split(' ').first();
        return {};
    }

    // Every mode the server knows whose name contains the text.
    QList<QByteArray> ModesNamed(const QByteArray &part) const
    {
        QList<QByteArray> names;
        for (const QByteArray &line : Xrandr("--verbose").split('\n'))
            if (line.startsWith("  ") && !line.startsWith("   ") && line.contains(part))
                names << line.trimmed().split(' ').first();
        return names;
    }

private:
    pid_t pid_ = 0;
    QByteArray name_;
};

// The screen's size in millimetres as a fresh connection sees it.
inline QSize ScreenMillimetres(const QByteArray &display)
{
    QSize mm;
    if (Display *d = XOpenDisplay(display.constData())) {
        mm = QSize(DisplayWidthMM(d, DefaultScreen(d)), DisplayHeightMM(d, DefaultScreen(d)));
        XCloseDisplay(d);
    }
    return mm;
}

inline int ScreenSaverTimeout(Display *d)
{
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
    XGetScreenSaver(d, &timeout, &interval, &blanking, &exposures);
    return timeout;
}

} // namespace testing_x11
