#pragma once
// The durable way every file of the save folder is written: the bytes go to a temporary
// file in the target's folder, are flushed to disk and renamed over the target, and the
// folder is flushed, so a crash, a kill or a full disk at any moment leaves either the old
// or the new content, never a truncated file. Used by the save files and their backups.
#include <QByteArray>
#include <QString>

#include <functional>

namespace DurableFile {

// The system's text for an errno value.
QString ErrorText(int error);

// A name as it can be shown in a message: a NUL character would end the text there.
QString Printable(const QString &s);

// The 8-bit form of a path for the system calls, or false when the path is empty or
// holds a NUL character (the system would cut it short there and address another file).
bool NativePath(const QString &path, QByteArray &native);

// The folder part of a native path ("." for a bare name).
QByteArray FolderOf(const QByteArray &file);

// Makes a rename, link or removal in folder durable; returns errno or 0. File systems
// that cannot sync a folder answer EINVAL; there is nothing more to do on them.
int SyncFolder(const QByteArray &folder);

// Puts bytes at the native path target the durable way. mode, when not negative, gives
// the new file's permissions; otherwise a new file gets 0666 less the umask. beforeRename,
// when given, runs once the new content is on disk, just before the rename; what it
// returns, when not empty, stops the write as a failure. Returns an empty string on
// success, else what failed; target is then as it was, except when only the final flush
// of the folder failed ("the new content may not be on disk yet"), which *renamed (when
// given) tells apart.
QString Replace(const QByteArray &target, const QByteArray &bytes, int mode = -1,
                bool *renamed = nullptr,
                const std::function<QString()> &beforeRename = nullptr);

// Reads the whole regular file at native into content; errno or 0. Never opens anything
// but a regular file (a FIFO cannot hang it).
int ReadRegularFile(const QByteArray &native, QByteArray &content);

} // namespace DurableFile
