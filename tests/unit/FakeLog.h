#pragma once
// The ordered event log that every fake writes into, and the helpers that spell its events.
#include "bridge/core/HostError.h"
#include "bridge/core/InvokeRequest.h"
#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "input/RightClickModule2.h"
#include "platform/Services.h"
#include "shell/GameSettings.h"
#include "shell/player/MoviePlayer.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QWidget>
#include <QtMath>

#include <functional>
#include <ostream>
#include <vector>

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace fakes {

// The events of one test, in order. `tap` sees each event as it is added, so a test can
// take a snapshot of other state at that moment.
struct EventLog {
    QStringList events;
    std::function<void(const QString &)> tap;

    void add(const QString &event)
    {
        events << event;
        if (tap)
            tap(event);
    }
    void clear() { events.clear(); }
    QStringList starting(const QString &prefix) const
    {
        QStringList found;
        for (const QString &e : events)
            if (e.startsWith(prefix))
                found << e;
        return found;
    }
    qsizetype count(const QString &prefix) const { return starting(prefix).size(); }
    std::string dump() const { return events.join(QStringLiteral("\n  ")).toStdString(); }
};

// Names the cases of a parameterised test by their `label`.
inline constexpr auto ByLabel = [](const auto &info) { return std::string(info.param.label); };

// True when `expected` appears in the log in this order (other events may lie between).
inline ::testing::AssertionResult InOrder(const EventLog &log, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &want : expected) {
        while (at < log.events.size() && log.events[at] != want)
            ++at;
        if (at == log.events.size())
            return ::testing::AssertionFailure()
                << "missing or out of order: \"" << want.toStdString() << "\"\nlog:\n  "
                << log.dump();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

inline QString Flag(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}
inline QString Call(const QString &name, const QString &arg)
{
    return QStringLiteral("player.call %1(%2)").arg(name, arg);
}
inline QString Marker(bool on)
{
    return Call(QStringLiteral("SwitchFullscreenMarker"), Flag(on));
}
inline QString ModeText(int w, int h, int depth, int freq)
{
    return QStringLiteral("display.Change %1x%2@%3/%4").arg(w).arg(h).arg(depth).arg(freq);
}

struct Logged {
    explicit Logged(EventLog &log) : log(log) {}
    EventLog &log;
};

} // namespace fakes
