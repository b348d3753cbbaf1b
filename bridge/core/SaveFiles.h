#pragma once
// The files of the save folder: profile files (one per player, "<name>.xml"), the
// high-score file and the configuration file. Each holds the last text the movie sent
// for it, as UTF-8 followed by CR LF; reading them is FileHandler::ReadWholeFile.
//
// Every write replaces the file atomically: the bytes go to a temporary file in the same
// folder, are flushed to disk and renamed over the old file, so a crash, a kill or a full
// disk at any moment leaves either the old or the new content, never a truncated file.
// Before a write replaces an existing file, and before a profile is deleted, its old
// content is kept in the backups (SaveBackups); when that fails, the file is left as it
// was and the write fails. Every failure is a HostError whose message names the file and
// the reason.
#include <QByteArray>
#include <QString>

namespace SaveFiles {

// Temporary files of an unfinished write are named TempPrefix + random + TempSuffix.
// They start with a dot and never end in ".xml", so they are never taken for a profile.
inline constexpr QStringView TempPrefix = u".lanternfall-save-";
inline constexpr QStringView TempSuffix = u".tmp";

// Replaces the file at path with text in UTF-8 followed by CR LF. The file is created if
// missing; an existing file keeps its permissions. Refused, with the file left as it was:
// a read-only file (no write permission for its owner), a folder, anything that is not a
// regular file, a missing folder, a name the file system rejects, a full disk.
void WriteSaveFile(const QString &path, const QString &text);

// Replaces the file at path with an empty file (zero bytes), under the same rules.
void CreateEmptyFile(const QString &path);

// Replaces the file at path with bytes exactly as given, under the same rules.
void WriteSaveBytes(const QString &path, const QByteArray &bytes);

// The name under which the player list shows the profile file fileName ("<name>.xml"):
// the name without its last four characters, upper-cased by the full Unicode mapping
// ("Straße" gives "STRASSE", "ﬁx" gives "FIX", "ıpek" gives "IPEK").
QString ListedName(const QString &fileName);

// The path of the profile file of the player called name in the folder savePath.
// Profiles are found without regard to letter case, by the very mapping the player list
// uses: when the folder already holds a profile whose ListedName equals that of
// name + ".xml", that file's path is returned with its own name. So a listed name always
// finds the file it was listed for, and no second file differing only in case ever comes
// into being. Among several such files (names that differ only in case) the first in
// ListFiles order wins. Otherwise savePath + "/" + name + ".xml". A name holding "/",
// "\" or a NUL character is refused, so nothing outside the save folder can ever be
// addressed.
QString ProfilePath(const QString &savePath, const QString &name);

// Removes the profile file at path. Refused when no such file exists, when path names a
// folder, when the file is read-only or when the file system refuses.
void DeleteProfile(const QString &path);

// Removes the temporary files that writes interrupted by a crash left in folder: regular
// files named exactly as our writes name them (TempPrefix, 1 to 13 of the characters
// 0-9 and a-z, TempSuffix), nothing else. Meant for start-up, before any write, while no
// other copy runs; failures are ignored.
void RemoveLeftoverTempFiles(const QString &folder);

} // namespace SaveFiles
