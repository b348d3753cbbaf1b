// The main window's filter and the steps run when the game loses or gains the foreground.
#include "input/FocusControls.h"
#include "input/RightClickModule2.h"
#include "shell/frmMain.h"
#include "shell/player/MoviePlayer.h"

#include <QApplication>

namespace {

// Watches application activation before anything else sees it; consumes nothing.
class MainWindowFilter : public QObject {
public:
    explicit MainWindowFilter(frmMain *window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == qApp) {
            if (event->type() == QEvent::ApplicationActivate)
                window_->RunGuarded([this] { window_->FocusGainSteps(); });
            else if (event->type() == QEvent::ApplicationDeactivate)
                window_->RunGuarded([this] { window_->FocusLossSteps(); });
        }
        return false;
    }

private:
    frmMain *window_;
};

} // namespace

void frmMain::HookMainWindow()
{
    qApp->installEventFilter(new MainWindowFilter(this));
    FocusControls::ReturnToFullScreen = false;
    FocusControls::AppActive = true;
}

void frmMain::DisableRightClick()
{
    // The player names its input window when asked for it; the search then goes through
    // the window's descendants in the order Qt lists them (depth first, children in
    // creation order) and takes the first match.
    flashPlayer_->inputWindow();
    for (QWidget *child : findChildren<QWidget *>()) {
        if (RightClickModule2::FindPlayerWindowProc(child))
            break;
    }
    if (RightClickModule2::PlayerHwnd())
        RightClickModule2::HookPlayerWindow(this);
}

QString frmMain::TellFocus(const QString &what)
{
    // The display, the window and the screen saver follow the focus whatever the movie
    // makes of being told: the caller passes a failure on once those steps are done. A
    // movie that keeps failing the call is reported once; later failures go to stderr
    // only, until a call goes through again.
    try {
        FlashCallFunction(QStringLiteral("notifyGame"), what);
        focusCallFailed_ = false;
    } catch (const HostError &error) {
        if (!std::exchange(focusCallFailed_, true))
            return error.message();
        Note(QStringLiteral("The movie was not told \"%1\": %2").arg(what, error.message()));
    }
    return QString();
}

void frmMain::FocusLossSteps()
{
    FocusControls::AppActive = false;
    const QString failure = TellFocus(QStringLiteral("lostFocus"));
    if (fullScreen) {
        GoWindowMode(true);
        // The desktop may blank and lock again while the game waits minimised; the return to
        // full screen switches the screen saver off once more.
        if (ScreenSaverWasActive_)
            SetScreenSaverActive(true);
        // Set before minimising: the resize that minimising causes must see it.
        FocusControls::ReturnToFullScreen = true;
        SetWindowState(1);
    }
    if (!failure.isEmpty())
        throw HostError(failure);
}

void frmMain::FocusGainSteps()
{
    NoteMinimised(true);
    FocusControls::AppActive = true;
    const QString failure = TellFocus(QStringLiteral("gainedFocus"));
    ReturnToFullScreenOnce();
    if (!failure.isEmpty())
        throw HostError(failure);
}
