#pragma once
// The protocol trace: with LANTERNFALL_TRACE=FILE in the environment, one JSON line is
// appended to FILE per command received from the movie and per call into the movie.
// It is the movie author's debugging aid, and what the end-to-end tests read.
#include <QString>

namespace ProtocolTrace {

enum class Direction { Command, Call };

// True when a trace file is configured (read once, from the environment).
bool Enabled();

// Appends one line: {"time":..., "dir":"command"|"call", "name":..., "arg":..., "outcome":...}.
// The line is written and flushed at once, so a trace survives the process ending at once.
void Record(Direction direction, const QString &name, const QString &argument,
            const QString &outcome);

// For tests: use this file instead of the environment's (empty = off).
void SetFileForTesting(const QString &path);

} // namespace ProtocolTrace
