#pragma once
// The small layer that stands in for the operating-system services the host needs. Each
// service is one narrow interface; X11/Linux implementations live beside it, and tests
// use fakes. No logic of the host reaches past these interfaces.
#include <QByteArray>
#include <QList>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>

class QWidget;

namespace platform {

// The previous-instance test: true when another copy of the program already runs for this
// user. The answer holds for the life of the process.
class InstanceLock {
public:
    virtual ~InstanceLock() = default;
    virtual bool AnotherCopyRuns() = 0;
};

// Messages to the user.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal message box with an OK button only; returns when the user has closed it.
    virtual void ShowMessage(const QString &caption, const QString &text) = 0;
    // A failure report that names what failed: to stderr and in a message box that does not
    // stop the program.
    virtual void ReportError(const QString &text) = 0;
};

// The immediate end of the process: no further window event, no unload work. The real
// implementation does not return; a fake records the call and returns.
class Process {
public:
    virtual ~Process() = default;
    virtual void EndNow(int exitCode) = 0;
};

// The system screen saver's on/off switch.
class ScreenSaver {
public:
    virtual ~ScreenSaver() = default;
    virtual bool IsActive() = 0;
    // True when the change was accepted.
    virtual bool SetActive(bool active) = 0;
};

// The desktop's own idle handling (the blanking and locking of GNOME, KDE, XFCE and of
// Wayland compositors, which do not read the X server's timeout), held off by an inhibit.
// Both calls return at once; the request is carried out in the background.
class ScreenSaverInhibit {
public:
    virtual ~ScreenSaverInhibit() = default;
    // Holds an inhibit with this reason; nothing more while one is held.
    virtual void Hold(const QString &reason) = 0;
    // Gives the inhibit back; nothing when none is held.
    virtual void Release() = 0;
    // Waits, at most timeoutMs, until what was asked so far has reached the desktop: the end
    // of the program would cut it off.
    virtual void Flush(int timeoutMs) = 0;
    // True when a desktop screen saver owns the service on the session bus and says so
    // within timeoutMs; false without a bus, without an owner or without an answer in time.
    virtual bool DesktopScreenSaverRuns(int timeoutMs) = 0;
};

// Asking the desktop to open an address in the user's browser.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // True when the desktop accepted the request.
    virtual bool Open(const QString &address) = 0;
};

// The display-mode record: the five fields the host reads and writes, and whatever the
// platform needs to give the rest of the mode back unchanged.
struct DisplayModeRecord {
    uint32_t dmPelsWidth = 0;
    uint32_t dmPelsHeight = 0;
    uint32_t dmBitsPerPel = 0;
    uint32_t dmDisplayFrequency = 0;
    uint32_t dmFields = 0;
    QByteArray platformData; // filled by EnumCurrent, handed back unchanged
};

// An output of the display (a monitor) that shows a part of the screen now.
struct Output {
    QByteArray name;
    QRect geometry;       // root coordinates, in the screen's own (device) pixels
    bool primary = false; // the desktop's primary output
    bool pointer = false; // the mouse pointer is on it
};

// The display mode of one output: the primary one unless another was selected.
class DisplayModes {
public:
    virtual ~DisplayModes() = default;
    // Fills the record with the mode now in force on the output; false (and the record
    // untouched) when it cannot be read.
    virtual bool EnumCurrent(DisplayModeRecord &record) = 0;
    // Switches the output to the record's mode as a temporary change: it is given back
    // however the program ends. Other outputs keep their modes and positions. False when
    // the display cannot take it.
    virtual bool ChangeTemporarily(const DisplayModeRecord &record) = 0;
    // The outputs showing a part of the screen now, with their places as they are now.
    virtual QList<Output> Outputs() { return {}; }
    // The output that EnumCurrent reads and ChangeTemporarily switches from now on; an
    // unknown name leaves it to the primary output.
    virtual void SelectOutput(const QByteArray &name) { (void)name; }
};

// Window-system services for the main window. Geometry is in the screen's own (device)
// pixels, in root coordinates: the unit of the display modes and of the window manager's
// frame; Qt's logical pixels are the window's business.
//
// The style word's caption bits (0x00C00000) are the title bar and frame: both set means
// a normal window, which the window manager decorates; otherwise the window has no title
// bar and covers its home output (the window manager's full-screen state where it has one,
// so that nothing, panels included, lies above it), and the window manager, not the host,
// then holds its size and place.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    virtual uint32_t GetWindowStyle(QWidget *window) = 0;
    virtual void SetWindowStyle(QWidget *window, uint32_t style) = 0;
    // The output that the window covers while it has no title bar. Set before FrameChanged.
    virtual void SetHomeOutput(QWidget *window, const QRect &output) { (void)window, (void)output; }
    // Makes the window system apply the style now: title bar and frame, or the covering
    // of the home output. Returns once the window manager has answered (a bounded wait).
    virtual void FrameChanged(QWidget *window) = 0;
    // What the window manager's frame adds around the client area now: zero when the
    // window has no title bar or is not decorated, whatever stale value the window manager
    // left behind; zero when the window manager does not tell.
    virtual QMargins FrameExtents(QWidget *window) = 0;
    // The frame the window manager gives the window when it has its title bar, known also
    // before the window is first shown (zero when the window manager does not tell).
    virtual QMargins DecoratedFrameExtents(QWidget *window) { return FrameExtents(window); }
    // True while the window manager holds the window's size and place (a window without
    // title bar in its full-screen state); the size and move requests below then do
    // nothing.
    virtual bool HeldByWindowManager(QWidget *window) { (void)window; return false; }
    // The window manager shows the window minimised (iconic) now.
    virtual bool Iconic(QWidget *window) = 0;
    // The client area as the window system has it now.
    virtual QRect ClientGeometry(QWidget *window) = 0;
    // Sets the client area's size; the window manager adds its frame around it.
    virtual void ResizeClient(QWidget *window, const QSize &size) = 0;
    // Places the window's outer top-left corner (its frame included) at x, y, as the X
    // server sees it.
    virtual void MoveTo(QWidget *window, int x, int y) = 0;
    // The same request, without waiting for the window manager's answer.
    virtual void AskToMove(QWidget *window, int x, int y) { MoveTo(window, x, y); }
    // The part of the desktop that panels leave free (_NET_WORKAREA); empty when the
    // window manager does not tell.
    virtual QRect WorkArea() { return {}; }
    // Screen pixels per logical pixel of the toolkit for a window on the screen that holds
    // the point: the desktop's scale there.
    virtual qreal ScaleAt(const QPoint &point) { (void)point; return 1.0; }
    // Calls `changed`, from the event loop, whenever the window system reports a new size
    // of the window's client area: also one that the toolkit does not report as a resize,
    // and one that the window manager applies after the host has read the size.
    virtual void FollowClientSize(QWidget *window, std::function<void()> changed)
    {
        (void)window, (void)changed;
    }
    // Calls `changed`, from the event loop, whenever the window manager moves the window,
    // resizes it or sets its frame anew: also a change it makes of its own accord, after it
    // has answered what the host asked for.
    virtual void FollowFrame(QWidget *window, std::function<void()> changed)
    {
        (void)window, (void)changed;
    }
};

// Typing keys as if the user had typed them; also resets the system's idle time.
class KeySender {
public:
    virtual ~KeySender() = default;
    // Types a space and a Backspace into `window`, and only there: nothing is typed unless
    // the window is the window manager's active window and holds the keyboard focus, and
    // no other client has taken the keyboard. True when the keys were delivered.
    virtual bool SendSpaceAndBackspace(QWidget *window) = 0;
};

// All services the window is given at creation.
struct Services {
    InstanceLock *instanceLock = nullptr;
    UserInterface *ui = nullptr;
    Process *process = nullptr;
    ScreenSaver *screenSaver = nullptr;
    UrlOpener *urlOpener = nullptr;
    DisplayModes *displayModes = nullptr;
    WindowSystem *windowSystem = nullptr;
    KeySender *keySender = nullptr;
    ScreenSaverInhibit *screenSaverInhibit = nullptr;
};

} // namespace platform
