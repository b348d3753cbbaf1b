#pragma once
// Backups of the save files. Before a write replaces or empties a save file, and before a
// profile is deleted, the old content is kept in the folder "backups" inside the save
// folder (a folder, so the player list never shows it), one file per version:
//
//   backups/<file name>.<yyyyMMdd>T<HHmmss>.<zzz>Z[-<sequence>]
//
// named by the time the old content was written (its last-write time, UTC, to the
// millisecond); versions of one file from the same millisecond get a sequence number
// from 2 on, so none ever replaces another. A version is a hard link to the old file
// where the file system allows it (the old content is not copied, and the rename that
// follows leaves it to the backup alone), otherwise a copy written the durable way.
//
// What is kept: for each file its newest KeptVersions versions, and the newest version of
// each of the last KeptDays days (today and the days before it, local time); older ones
// are removed after each new version. Nothing is kept for a missing or empty file, nor
// when the new content is the same as the old (nothing would be lost, and repeated saves
// of unchanged data would push real versions out).
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace SaveBackups {

inline constexpr QStringView FolderName = u"backups";
inline constexpr int KeptVersions = 10;
inline constexpr int KeptDays = 7;

struct Version {
    QString file;     // the save file's name ("Anna.xml", "hs.dat")
    QDateTime time;   // when this content was written, UTC, to the millisecond
    int sequence = 1; // among versions of the same file and millisecond, the later is higher
    qint64 size = 0;  // bytes
    QString path;     // the backup file
};

// The backups folder of a save folder.
QString FolderOf(const QString &saveFolder);

// The backup file name of a version, and back; a name that is no version's (a temporary
// file, something a user put there) gives nothing.
QString VersionName(const QString &file, const QDateTime &time, int sequence);
std::optional<Version> ParseVersionName(const QString &name);

// The time as --backups lists it and --restore takes it: local time, ISO 8601, to the
// millisecond ("2026-12-10T20:15:03.412").
QString ListedTime(const QDateTime &time);

// Keeps the content of saveFile (a save file's path; a link is followed) as a new version,
// before replacement (or, for nullptr, a deletion) takes its place. Returns the version's
// path, or nothing when no version was needed. Throws a HostError saying why when the
// old content cannot be kept; the caller must then leave the file as it is. A caller
// whose change then fails removes the version again (the content is still the file's).
// The version is complete at once, but its entry in the backups folder is on disk only
// after MakeDurable, which the caller runs before it replaces or removes the file (late,
// so that one flush of the file system's journal serves the backup and the new content).
QString KeepOldContent(const QString &saveFile, const QByteArray *replacement);

// Flushes the backups folder holding version; an empty string, or what failed.
QString MakeDurable(const QString &version);

// Removes the versions of saveFile's name that retention no longer keeps, and temporary
// files of backup copies a crash cut short. Failures are ignored (the next call retries).
void Prune(const QString &saveFile, const QDateTime &now = QDateTime::currentDateTimeUtc());

// Of the versions of one file, those that retention removes at the time now.
QList<Version> Unkept(QList<Version> versions, const QDateTime &now);

// Every version kept in saveFolder's backups with its size: files in the order of the
// player list (by upper-cased name), newest first for each file.
QList<Version> List(const QString &saveFolder);

} // namespace SaveBackups
