#pragma once
// The wait for one call into the movie. The call is handed to the page, and the host waits
// in a nested event loop (the window stays responsive) until the page's answer comes, the
// player stops, or the page has given no answer for the hang bound. Being slow is no
// failure: however long the page takes within that bound, its answer is the outcome.
//
// The answer is handed over through answerSink(), which may be called at any time, also
// after the wait has ended or this object is gone (it is then dropped).
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class CallWait : public QObject {
    Q_OBJECT
public:
    enum class End {
        Answered,   // answer() holds the page's answer
        Stopped,    // stop() came first: the player stopped
        Unanswered, // no answer within the bound
    };

    CallWait();
    ~CallWait() override;

    // What the page calls with its answer, once.
    std::function<void(const QString &)> answerSink() const;

    // Waits at most boundMs for the answer or stop().
    End wait(int boundMs);
    QString answer() const;

public slots:
    void stop();

private:
    struct State;
    std::shared_ptr<State> state_;
};
