#include "bridge/core/ProtocolTrace.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

namespace ProtocolTrace {
namespace {

struct TraceFile {
    bool configured = false;
    QString path;
};

TraceFile &file()
{
    static TraceFile trace;
    if (!trace.configured) {
        trace.configured = true;
        trace.path = qEnvironmentVariable("LANTERNFALL_TRACE");
    }
    return trace;
}

} // namespace

bool Enabled()
{
    return !file().path.isEmpty();
}

void Record(Direction direction, const QString &name, const QString &argument,
            const QString &outcome)
{
    if (!Enabled())
        return;
    QJsonObject line{
        {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {"dir", direction == Direction::Command ? "command" : "call"},
        {"name", name},
        {"arg", argument},
        {"outcome", outcome},
    };
    // Opened and closed for each line: nothing is held open across a call into the movie,
    // and a process that ends at once loses no line.
    QFile out(file().path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    out.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

void SetFileForTesting(const QString &path)
{
    file().configured = true;
    file().path = path;
}

} // namespace ProtocolTrace
