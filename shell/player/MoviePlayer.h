#pragma once
// The movie player component as the host uses it: set the movie, keep the player out of a
// full screen of its own, place it, call the movie's registered functions and receive the
// movie's commands. The window holds exactly one player; tests use a fake of this class.
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>

class MoviePlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~MoviePlayer() override = default;

    // The control itself, a child of the main window.
    virtual QWidget *widget() = 0;

    // Loads and starts the movie at this full path. Throws HostError naming the path when
    // the file is missing, cannot be read or is plainly no movie; later trouble with the
    // start comes as startFailed.
    virtual void setMovie(const QString &path) = 0;
    virtual QString movie() const = 0;

    // "False" (any letter case) keeps the player from entering a full screen of its own.
    virtual void setAllowFullScreen(const QString &value) = 0;

    // The control's rectangle in the main window's client area, in pixels.
    virtual void setContainerRect(const QRect &rect) = 0;
    virtual QRect containerRect() const = 0;

    // The stage as the player shows it now, in the screen's pixels (the control's own
    // picture, drawn off the screen: nothing that covers the window shows in it). A player
    // drawn outside its widget's painting (a window of its own) takes it from there.
    virtual QImage grabStage() { return widget()->grab().toImage(); }

    // Calls the movie function named in the invoke request with its one string argument and
    // returns what the function returned. Synchronous: it returns after the function has
    // run (the movie may raise commands meanwhile). Throws HostError when no function of
    // that name is registered, the function throws, the player is gone or does not answer
    // in time. A call made before the movie has loaded and registered the function it
    // names, or behind such a call, is held and returns the empty string at once; held
    // calls are delivered in order, and their failures come as one `failure`.
    virtual QString CallFunction(const QString &request) = 0;

    // The window that receives the player's mouse and keyboard input (null until the
    // player is shown).
    virtual QWidget *inputWindow() = 0;

    // Delivers the commands that wait their turn (raised while another command ran or a
    // call into the movie was awaited) now, in order, as long as boundMs have not passed;
    // the rest are dropped. Returns how many were dropped. Used when the program ends
    // without the movie's "quit", so that a save it asked for is not lost.
    virtual int RunWaitingCommands(int boundMs)
    {
        (void)boundMs;
        return 0;
    }

signals:
    // A command raised by the movie, delivered on the user-interface thread in order.
    void FSCommand(const QString &command, const QString &args);
    // Something went wrong away from any caller (a held call failed, the player's process
    // ended): the host reports it.
    void failure(const QString &message);
    // The movie could not be started (a damaged movie, the player's files missing or
    // unloadable, the page failing): the message names the file and the reason. The movie
    // never played; the host tells the user and ends.
    void startFailed(const QString &message);
    // The movie asked to open an address outside the player (a link, navigateToURL).
    void externalLinkRequested(const QUrl &url);
};
