#pragma once
// File-system questions the host asks about the save folder: which files in a folder match
// a pattern, when a file was last written, and what a file holds. Nothing here keeps state,
// shows a message or throws: failures become an empty list, a zero time or an empty text.
//
// The player list and the save files were designed on Windows, so the listing follows the
// Windows rules (wildcards, letter case, directory attribute) and the folder order of NTFS,
// whatever the Linux file system does.
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace FileHandler {

// Attribute words given to directory entries, modelled on the Windows attribute bits.
inline constexpr quint32 DirectoryAttribute = 16;
inline constexpr quint32 ArchiveAttribute = 32;

// Lists the entries of one folder whose names match the last component of pattern.
// pattern is a full path with "/" as separator; its last component may hold "*" (any run
// of characters) and "?" (one character), letters match without regard to case and "*.*"
// matches every name. A pattern ending in "/" lists the whole folder.
// Entries come in the order an NTFS folder lists them (by upper-cased name). Directories
// are left out. The first qualifying name is element 0; when nothing qualifies, or the
// folder does not exist, the list holds exactly one element, the empty string.
// When writeTimes is given it receives one time per element of the list: what
// GetFileWriteTime reports for that file's path (the folder, "/" and the name), taken from
// the status the listing reads anyway, and zero for the lone empty element.
QStringList ListFiles(const QString &pattern, QList<quint64> *writeTimes = nullptr);

// True when name matches the wildcard expression under the rules of ListFiles.
bool MatchesWildcard(const QString &expression, const QString &name);

// The part of s before its first NUL character (all of s when there is none).
QString TrimAtNull(const QString &s);

// True only for the eight attribute words 16..23: the directory bit alone or with any of
// read-only (1), hidden (2) and system (4). A directory that carries any other bit counts
// as a file.
bool IsDirectoryAttribute(quint32 attributes);

// The last-write time of the file at path as a count of 100 ns intervals since
// 1601-01-01 UTC, at the file system's full resolution; zero when it cannot be read or
// when path names a directory. The file is never opened.
quint64 GetFileWriteTime(const QString &path);

// The whole content of the regular file at path, final line break included; empty when
// the file is missing, empty, unreadable or not a regular file (directories, FIFOs,
// devices and sockets are never opened for reading). Bytes that form valid UTF-8 are
// decoded as UTF-8, anything else as Windows-1252.
QString ReadWholeFile(const QString &path);

// Decodes bytes the way ReadWholeFile does.
QString DecodeFileText(const QByteArray &bytes);

} // namespace FileHandler
