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
            const int key = static_cast<QKeyEvent *>(event)->key();
            // F12 saves a screenshot (once per press, not per auto-repeat); the movie still
            // gets the key.
            if (key == Qt::Key_F12) {
                if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
                    window_->RunGuarded([this] { window_->TakeScreenshot(); });
                return false;
            }
            if (key == Qt::Key_Menu)
                return true;
            if (key == Qt::Key_Control) {
                ctrlDown = true;
                return true;
            }
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && ctrlDown) {
                window_->RunGuarded([this] { window_->ToggleFullScreen(); });
                return false;
            }
            if (key == Qt::Key_Meta || key == Qt::Key_Super_L || key == Qt::Key_Super_R) {
                window_->RunGuarded([this] { window_->FocusLossSteps(); });
                return false;
            }
            return false;
        }
        case QEvent::KeyRelease:
            if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Control) {
                ctrlDown = false;
                return true;
            }
            return false;
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
}

} // namespace RightClickModule2
