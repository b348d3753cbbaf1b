#pragma once
// The small layer that stands in for the operating-system services the host needs. Each
// service is one narrow interface; X11/Linux implementations live beside it, and tests
// use fakes. No logic of the host reaches past these interfaces.
#include <QByteArray>
#include <QMargins>
#include <QString>
#include <QUrl>
#include <cstdint>

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

// The primary display's mode.
class DisplayModes {
public:
    virtual ~DisplayModes() = default;
    // Fills the record with the mode now in force on the primary display; false (and the
    // record untouched) when it cannot be read.
    virtual bool EnumCurrent(DisplayModeRecord &record) = 0;
    // Switches the primary display to the record's mode as a temporary change: it is given
    // back however the program ends. False when the display cannot take it.
    virtual bool ChangeTemporarily(const DisplayModeRecord &record) = 0;
};

// Window-system services for the main window: its style word (the caption bits
// 0x00C00000 are its title bar and frame, the other bits are kept as they are), the frame
// the window manager adds, and the real position on the screen.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    virtual uint32_t GetWindowStyle(QWidget *window) = 0;
    virtual void SetWindowStyle(QWidget *window, uint32_t style) = 0;
    // Makes the window system apply the style to the window's frame now.
    virtual void FrameChanged(QWidget *window) = 0;
    // What the window manager's frame adds around the client area (zero when undecorated
    // or not known).
    virtual QMargins FrameExtents(QWidget *window) = 0;
    // The frame the window manager gives the window when it has its title bar, known also
    // before the window is first shown (zero when the window manager does not tell).
    virtual QMargins DecoratedFrameExtents(QWidget *window) { return FrameExtents(window); }
    // Places the window's outer top-left corner at x, y of the screen, as the X server
    // sees it.
    virtual void MoveTo(QWidget *window, int x, int y) = 0;
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
