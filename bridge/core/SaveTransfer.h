#pragma once
// Putting save files back from the backups, and bringing over another save folder's save
// files. Both write through SaveFiles, so every file they replace is kept as a backup
// first, and both keep the rule that no two profiles differ only in letter case.
// A command that cannot do anything at all throws a HostError saying why.
#include <QList>
#include <QString>
#include <QStringList>

namespace SaveTransfer {

// What a command did (standard output), what it left out on purpose and what it could not
// do (both standard error; only the last is a failure).
struct Report {
    QStringList done;
    QStringList notes;
    QStringList problems;
};

// Puts back a kept version of file ("Anna.xml", "hs.dat", "config.dat"; a profile's name
// in any letter case). time empty: the newest version; otherwise the time as --backups
// lists it, or its beginning down to the day ("2026-12-10T20:15", "2026-12-10"), which
// takes the newest version within it. A profile goes back under the name of the existing
// profile that differs only in case, if there is one.
Report Restore(const QString &saveFolder, const QString &file, const QString &time);

// One step of an import: the source's index in the names given to PlanImport, and the
// name it gets in the save folder.
struct Copy {
    qsizetype source;
    QString target;
};

struct ImportPlan {
    QList<Copy> copies;
    QStringList skipped; // "name: why", for save files that are not copied
    int others = 0;      // files that are no save files
};

// Which of a folder's regular files an import copies, and under which names: "hs.dat" and
// "config.dat" (in any letter case) and "*.xml" profiles. Among names that differ only in
// case, the first in the player list's order is copied; a profile that differs only in
// case from one of existingProfiles replaces that one under its name; a profile name
// holding "\" is skipped (no player name may hold it).
ImportPlan PlanImport(const QStringList &names, const QStringList &existingProfiles);

// Copies dir's save files into saveFolder byte for byte, as PlanImport says. A file that
// already holds the same bytes is left alone.
Report Import(const QString &saveFolder, const QString &dir);

} // namespace SaveTransfer
