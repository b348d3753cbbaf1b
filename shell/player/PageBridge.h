#pragma once
// The one object the player page can reach through the web channel, registered as "host":
// it takes the movie's commands and the player's state reports, and nothing else.
//
// The channel publishes every public method, signal and property of an object's meta-object,
// QObject's own included. So besides the two slots below the page sees deleteLater(), the
// destroyed and objectNameChanged signals and the objectName property. None of them lets
// the page take the host's command entry away (Qt 6.4, tests/unit/WebChannelSecurityTest):
// the channel deletes only the objects it created itself, never a registered one
// ("Not deleting non-wrapped object"); it refuses to emit signals on the page's behalf;
// and the objectName the page may set is read by nothing in the host. Hence: no public
// slot, invokable, signal or property may be added here.
#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class PageBridge : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString &, const QString &)>;

    PageBridge(Handler onCommand, Handler onState, QObject *parent)
        : QObject(parent), onCommand_(std::move(onCommand)), onState_(std::move(onState))
    {
    }

public slots:
    // Both are taken out of the channel's message handling and run from the event loop:
    // handling a command may wait for a call into the movie, and such a wait inside the
    // channel's own dispatch would never see the page's answer.
    void fsCommand(const QString &command, const QString &args) { post(onCommand_, command, args); }
    void playerState(const QString &state, const QString &detail)
    {
        post(onState_, state, detail);
    }

private:
    void post(const Handler &handler, const QString &first, const QString &second)
    {
        QMetaObject::invokeMethod(
            this, [handler, first, second] { handler(first, second); }, Qt::QueuedConnection);
    }

    Handler onCommand_;
    Handler onState_;
};
