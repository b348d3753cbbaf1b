#pragma once
// The window with fakes, and the player's input window, for the tests of the input filters,
// focus, the screen saver, the keep-awake timer and the links.
#include "WindowTestFixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

#include <functional>
#include <memory>

namespace input_test {

using fakes::Call;

inline const QString Reached = QStringLiteral("input.reached");
inline const QString LostFocus = Call(QStringLiteral("notifyGame"), QStringLiteral("lostFocus"));
inline const QString GainedFocus =
    Call(QStringLiteral("notifyGame"), QStringLiteral("gainedFocus"));
inline const QString Keys = QStringLiteral("keys.SpaceAndBackspace");
inline const QSize Desktop(1920, 1080);
inline const QSize Stage(800, 600);

// The player's input window: logs the one event a test is watching when it gets past the
// filters to the window itself.
class PlayerInput : public QWidget {
public:
    PlayerInput(fakes::EventLog &log, QWidget *parent) : QWidget(parent), log_(log) {}
    const QEvent *watch = nullptr;

protected:
    bool event(QEvent *e) override
    {
        if (e == watch)
            log_.add(Reached);
        return QWidget::event(e);
    }

private:
    fakes::EventLog &log_;
};

// An event filter given as a function.
class Filter : public QObject {
public:
    explicit Filter(std::function<bool(QObject *, QEvent *)> f) : f_(std::move(f)) {}

protected:
    bool eventFilter(QObject *watched, QEvent *e) override { return f_(watched, e); }

private:
    std::function<bool(QObject *, QEvent *)> f_;
};

// A key event from the X server carries its keysym as the native key; one made inside the
// program none (keysym 0).
inline constexpr quint32 XK_Meta_L = 0xffe7, XK_Super_L = 0xffeb;
inline std::unique_ptr<QEvent> MakeEvent(QEvent::Type type, int code, Qt::KeyboardModifiers mods = {},
                                         quint32 keysym = 0, bool autoRepeat = false)
{
    const QPoint at(5, 5);
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return std::make_unique<QKeyEvent>(type, code, mods, keysym ? 133 : 0, keysym, 0,
                                           QString(), autoRepeat);
    case QEvent::ContextMenu:
        return std::make_unique<QContextMenuEvent>(QContextMenuEvent::Reason(code), at, at,
                                                   mods);
    default:
        return std::make_unique<QMouseEvent>(
            type, QPointF(at), QPointF(at), Qt::MouseButton(code),
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(code), mods);
    }
}

class InputTest : public WindowTest {
protected:
    // Starts on a 1920x1080 desktop (full screen) with the player's input window of the
    // given name; the log then starts empty.
    void startWithInput(const QString &name = "MacromediaFlashPlayerActiveX")
    {
        build();
        input = new PlayerInput(log, player->widget());
        input->setObjectName(name);
        player->input = input;
        window->Form_Load();
        log.clear();
    }
    // Sends one event to `target` (the player's input window by default).
    void send(QEvent::Type type, int code, Qt::KeyboardModifiers mods = {},
              QWidget *target = nullptr, quint32 keysym = 0, bool autoRepeat = false)
    {
        const auto e = MakeEvent(type, code, mods, keysym, autoRepeat);
        input->watch = e.get();
        QCoreApplication::sendEvent(target ? target : input, e.get());
        input->watch = nullptr;
    }
    static void application(QEvent::Type type)
    {
        QEvent e(type);
        QCoreApplication::sendEvent(qApp, &e);
    }
    void expectPlaying(bool full)
    {
        EXPECT_EQ(window->fullScreen, full);
        EXPECT_EQ(window->WindowState(), 0);
        EXPECT_EQ(display.size(), full ? Stage : Desktop);
        EXPECT_TRUE(FocusControls::AppActive);
        EXPECT_FALSE(FocusControls::ReturnToFullScreen);
        EXPECT_TRUE(ui.errors.isEmpty()) << ui.errors.join("; ").toStdString();
    }
    void expectSuspended()
    {
        EXPECT_TRUE(window->fullScreen);
        EXPECT_EQ(window->WindowState(), 1);
        EXPECT_EQ(display.size(), Desktop);
        EXPECT_FALSE(FocusControls::AppActive);
        EXPECT_TRUE(FocusControls::ReturnToFullScreen);
    }

    PlayerInput *input = nullptr; // owned by the player's control
};

} // namespace input_test
