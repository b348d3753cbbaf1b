#pragma once
// Checks that a file can be a Flash movie before the player is given it, so that a damaged
// or foreign file gets a clear reason instead of a player that stays black or plays half a
// movie. A Flash movie begins with "FWS" (uncompressed), "CWS" (zlib) or "ZWS" (LZMA), a
// version byte and its length when uncompressed, as a 32-bit little-endian number.
//
// Each check gives the reason the file cannot be a movie (it completes the sentence
// "... is not a Flash movie or is damaged: "), or an empty string when the file passed.
#include <QByteArray>
#include <QString>

namespace MovieFile {

// How many bytes from the file's start HeaderProblem looks at.
inline constexpr int HeaderBytes = 17;

// The cheap check of a file of fileSize bytes whose first bytes are head (the first
// HeaderBytes, or all of them when the file is shorter): the signature, the length, and for
// an LZMA movie whether the file holds the whole compressed length its header gives.
QString HeaderProblem(const QByteArray &head, qint64 fileSize);

// The whole check of the file at path: the header as above; for a zlib-compressed movie
// whether its compressed stream holds the whole length the header gives; for an
// uncompressed one shorter than its header says, whether its tags end within the file.
// Only content that really ends early is refused: a stream whose checksum is missing or
// wrong after the whole content, or a short uncompressed file whose tags end properly,
// passes with a note on what is odd (into *note). Reads the file once with a small
// buffer; LZMA content is not unpacked (its header check stands).
QString ContentProblem(const QString &path, QString *note = nullptr);

} // namespace MovieFile
