#include "input/RightClickModule2.h"

#include "shell/frmMain.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace RightClickModule2 {
namespace {

QPointer<QWidget> playerHwnd;
bool ctrlDown = false;

// The X keysyms of the two Windows keys. On X11 a key event's native virtual key is its
// keysym; Qt reports Super_L and Super_R as Qt::Key_Meta, but also Meta_L, which the
// standard keymaps give Shift+Alt: only the keysym tells the Windows keys apart.
constexpr quint32 XK_Super_L = 0xffeb;
constexpr quint32 XK_Super_R = 0xffec;

bool IsWindowsKey(const QKeyEvent *key)
{
    if (key->nativeVirtualKey() != 0 || key->nativeScanCode() != 0)
        return key->nativeVirtualKey() == XK_Super_L || key->nativeVirtualKey() == XK_Super_R;
    // An event made inside the program carries no native key: only Qt's own Super keys.
    return key->key() == Qt::Key_Super_L || key->key() == Qt::Key_Super_R;
}

bool IsEnter(const QKeyEvent *key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// When Enter was last let go (the X server's time, 0: not yet). The X server repeats a
// held key as a release and a press of one time stamp; Qt tells most such presses by
// isAutoRepeat(), but not all (measured under Xvfb: one in about ten).
quint64 enterReleasedAt = 0;

// Ctrl+Enter toggles the mode only while Ctrl is really held: a Ctrl key-down reached the
// player, and the key event says Ctrl is down (a Ctrl released in another application
// leaves CtrlDown set). Holding the keys toggles once, not on every repeat.
bool IsToggle(const QKeyEvent *key)
{
    const bool repeated =
        key->isAutoRepeat() || (key->timestamp() != 0 && key->timestamp() == enterReleasedAt);
    return IsEnter(key) && ctrlDown && key->modifiers().testFlag(Qt::ControlModifier) &&
           !repeated;
}

class PlayerWindowFilter : public QObject {
public:
    PlayerWindowFilter(frmMain *window, QObject *parent) : QObject(parent), window_(window) {}

protected:
    // True consumes the event; false passes it on to the player.
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return static_cast<QMouseEvent *>(event)->button() == Qt::RightButton;
        case QEvent::ContextMenu:
            // What the right button and the context-menu key cause: never a menu.
            return true;
        case QEvent::KeyPress: {
            const auto *keyEvent = static_cast<QKeyEvent *>(event);
            const int key = keyEvent->key();
            // F12 saves a screenshot (once per press, not per auto-repeat); the movie still
            // gets the key.
            if (key == Qt::Key_F12) {
                if (!keyEvent->isAutoRepeat())
                    window_->RunGuarded([this] { window_->TakeScreenshot(); });
                return false;
            }
            if (key == Qt::Key_Menu)
                return true;
            if (key == Qt::Key_Control) {
                ctrlDown = true;
                return true;
            }
            if (IsToggle(keyEvent)) {
                window_->RunGuarded([this] { window_->ToggleFullScreen(); });
                return false;
            }
            if (IsWindowsKey(keyEvent)) {
                window_->RunGuarded([this] { window_->FocusLossSteps(); });
                return false;
            }
            return false;
        }
        case QEvent::KeyRelease: {
            const auto *keyEvent = static_cast<QKeyEvent *>(event);
            if (keyEvent->key() == Qt::Key_Control) {
                ctrlDown = false;
                return true;
            }
            if (IsEnter(keyEvent))
                enterReleasedAt = keyEvent->timestamp();
            return false;
        }
        default:
            return false;
        }
    }

private:
    frmMain *window_;
};

} // namespace

QWidget *PlayerHwnd()
{
    return playerHwnd;
}

bool CtrlDown()
{
    return ctrlDown;
}

QString WindowClassName(const QObject *window)
{
    return window->objectName().isEmpty() ? QString::fromLatin1(window->metaObject()->className())
                                          : window->objectName();
}

bool FindPlayerWindowProc(QWidget *window)
{
    const QString className = WindowClassName(window);
    if (className == u"MacromediaFlashPlayerActiveX" || className.startsWith(u"ATL:")) {
        playerHwnd = window;
        return true;
    }
    return false;
}

void HookPlayerWindow(frmMain *window)
{
    playerHwnd->installEventFilter(new PlayerWindowFilter(window, playerHwnd));
    ctrlDown = false;
}

void Reset()
{
    playerHwnd = nullptr;
    ctrlDown = false;
    enterReleasedAt = 0;
}

} // namespace RightClickModule2
