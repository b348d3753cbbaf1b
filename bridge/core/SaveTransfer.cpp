#include "bridge/core/SaveTransfer.h"

#include "bridge/core/DurableFile.h"
#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"
#include "bridge/core/SaveBackups.h"
#include "bridge/core/SaveFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>

namespace SaveTransfer {
namespace {

using DurableFile::ErrorText;
using DurableFile::Printable;

const QString HighScores = QStringLiteral("hs.dat");
const QString Configuration = QStringLiteral("config.dat");

bool isProfileName(const QString &name)
{
    return FileHandler::MatchesWildcard(QStringLiteral("*.xml"), name);
}

// The name a save file has in the save folder, or nothing for a name that is none.
QString saveFileKind(const QString &name)
{
    if (name.compare(HighScores, Qt::CaseInsensitive) == 0)
        return HighScores;
    if (name.compare(Configuration, Qt::CaseInsensitive) == 0)
        return Configuration;
    return isProfileName(name) ? QStringLiteral("*.xml") : QString();
}

// Profiles are one file per listed name; hs.dat and config.dat have their own names.
QString sameFileKey(const QString &name)
{
    const QString kind = saveFileKind(name);
    return kind == u"*.xml" ? SaveFiles::ListedName(name) + u'\n' : kind;
}

// The content of a regular file, or a HostError naming it.
QByteArray readFile(const QByteArray &native, const QString &shown)
{
    QByteArray content;
    if (const int error = DurableFile::ReadRegularFile(native, content))
        throw HostError(QStringLiteral("cannot read \"%1\": %2").arg(shown, ErrorText(error)));
    return content;
}

// Writes bytes to the save file at target unless it already holds them; a line for done.
QString put(const QString &target, const QByteArray &bytes, const QString &what)
{
    QByteArray current;
    QByteArray native;
    if (DurableFile::NativePath(target, native) &&
        DurableFile::ReadRegularFile(native, current) == 0 && current == bytes)
        return QStringLiteral("%1: already holds %2; nothing changed")
            .arg(QFileInfo(target).fileName(), what);
    SaveFiles::WriteSaveBytes(target, bytes);
    return QStringLiteral("%1: %2 (%3 bytes)")
        .arg(QFileInfo(target).fileName(), what)
        .arg(bytes.size());
}

// The listed time of a version matches time when it is the same or starts with it and
// goes on at a field boundary.
bool matchesTime(const QString &listed, const QString &time)
{
    if (!listed.startsWith(time))
        return false;
    return listed.size() == time.size() || QStringLiteral("T:.").contains(listed[time.size()]);
}

} // namespace

Report Restore(const QString &saveFolder, const QString &file, const QString &time)
{
    if (file.contains(u'/') || file.contains(u'\\') || file.contains(QChar(u'\0')) ||
        saveFileKind(file).isEmpty())
        throw HostError(QStringLiteral("\"%1\" is no save file's name: give one as --backups "
                                       "lists it (NAME.xml, hs.dat or config.dat), without "
                                       "a folder")
                            .arg(Printable(file)));
    const QString key = sameFileKey(file);
    QList<SaveBackups::Version> versions = SaveBackups::List(saveFolder);
    versions.removeIf([&key](const SaveBackups::Version &v) { return sameFileKey(v.file) != key; });
    if (versions.isEmpty())
        throw HostError(QStringLiteral("No backup of \"%1\" is kept in \"%2\" (lanternfall "
                                       "--backups lists what is kept); nothing was changed")
                            .arg(file, SaveBackups::FolderOf(saveFolder)));
    // Newest first over all names the file had (profiles that differ only in case).
    std::sort(versions.begin(), versions.end(), [](const auto &a, const auto &b) {
        return a.time != b.time ? a.time > b.time : a.sequence > b.sequence;
    });
    QString wanted = time.trimmed();
    wanted.replace(u' ', u'T');
    const auto chosen = std::find_if(versions.begin(), versions.end(), [&wanted](const auto &v) {
        return wanted.isEmpty() || matchesTime(SaveBackups::ListedTime(v.time), wanted);
    });
    if (chosen == versions.end())
        throw HostError(QStringLiteral("No backup of \"%1\" was made at %2 (lanternfall "
                                       "--backups lists the times); nothing was changed")
                            .arg(file, time));

    QByteArray native;
    DurableFile::NativePath(chosen->path, native);
    const QByteArray bytes = readFile(native, chosen->path);
    const QString target =
        key == HighScores || key == Configuration
            ? saveFolder + u'/' + key
            : SaveFiles::ProfilePath(saveFolder, chosen->file.chopped(4));
    return Report{{put(target, bytes,
                       QStringLiteral("restored the version of %1")
                           .arg(SaveBackups::ListedTime(chosen->time)))},
                  {},
                  {}};
}

ImportPlan PlanImport(const QStringList &names, const QStringList &existingProfiles)
{
    // The player list's order: by upper-cased name, then by the name itself.
    std::vector<qsizetype> order(size_t(names.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&names](qsizetype a, qsizetype b) {
        const QString keyA = names[a].toUpper(), keyB = names[b].toUpper();
        return keyA != keyB ? keyA < keyB : names[a] < names[b];
    });
    QHash<QString, QString> existing; // listed name -> the profile's file name
    for (const QString &profile : existingProfiles) {
        if (!profile.isEmpty() && !existing.contains(SaveFiles::ListedName(profile)))
            existing.insert(SaveFiles::ListedName(profile), profile);
    }
    ImportPlan plan;
    QHash<QString, QString> taken; // same-file key -> the source name copied for it
    for (const qsizetype index : order) {
        const QString &name = names[index];
        const QString kind = saveFileKind(name);
        if (kind.isEmpty()) {
            ++plan.others;
            continue;
        }
        const QString key = sameFileKey(name);
        if (taken.contains(key)) {
            plan.skipped.append(QStringLiteral("%1: differs only in case from %2, which is "
                                               "imported")
                                    .arg(name, taken.value(key)));
            continue;
        }
        if (kind == u"*.xml" && name.contains(u'\\')) {
            plan.skipped.append(
                QStringLiteral("%1: a player name must not hold \"\\\"").arg(name));
            continue;
        }
        taken.insert(key, name);
        const QString target = kind != u"*.xml" ? kind
                               : existing.contains(SaveFiles::ListedName(name))
                                   ? existing.value(SaveFiles::ListedName(name))
                                   : name;
        plan.copies.append(Copy{index, target});
    }
    return plan;
}

Report Import(const QString &saveFolder, const QString &dir)
{
    QByteArray nativeDir;
    if (!DurableFile::NativePath(dir, nativeDir))
        throw HostError(QStringLiteral("\"%1\" is no folder name").arg(Printable(dir)));
    struct stat st {};
    if (stat(nativeDir.constData(), &st) != 0)
        throw HostError(QStringLiteral("Cannot import from \"%1\": %2")
                            .arg(dir, ErrorText(errno)));
    if (!S_ISDIR(st.st_mode))
        throw HostError(QStringLiteral("Cannot import from \"%1\": it is not a folder").arg(dir));
    if (QFileInfo(dir).canonicalFilePath() == QFileInfo(saveFolder).canonicalFilePath())
        throw HostError(QStringLiteral("\"%1\" is the save folder itself; nothing to import")
                            .arg(dir));
    DIR *handle = opendir(nativeDir.constData());
    if (!handle)
        throw HostError(QStringLiteral("Cannot import from \"%1\": %2")
                            .arg(dir, ErrorText(errno)));
    // Regular files only (links followed); names that are no UTF-8 came from Windows in
    // its code page and are read the way file contents are.
    QStringList names;
    QList<QByteArray> nativeNames;
    while (const dirent *item = readdir(handle)) {
        struct stat entry {};
        if (fstatat(dirfd(handle), item->d_name, &entry, 0) == 0 && S_ISREG(entry.st_mode)) {
            nativeNames.append(QByteArray(item->d_name));
            names.append(FileHandler::DecodeFileText(nativeNames.last()));
        }
    }
    closedir(handle);

    const ImportPlan plan =
        PlanImport(names, FileHandler::ListFiles(saveFolder + QStringLiteral("/*.xml")));
    Report report;
    report.notes = plan.skipped;
    struct Content {
        QString target;
        QByteArray bytes;
        QString what;
    };
    QList<Content> contents;
    for (const Copy &copy : plan.copies) {
        const QString &source = names[copy.source];
        try {
            contents.append({copy.target,
                             readFile(nativeDir + '/' + nativeNames[copy.source],
                                      dir + u'/' + source),
                             source == copy.target
                                 ? QStringLiteral("imported")
                                 : QStringLiteral("imported from \"%1\"").arg(source)});
        } catch (const HostError &error) {
            report.problems.append(error.message());
        }
    }
    if (contents.isEmpty())
        throw HostError(QStringLiteral("\"%1\" holds no save file that can be imported "
                                       "(NAME.xml, hs.dat, config.dat); nothing was changed%2")
                            .arg(dir, report.notes.isEmpty() && report.problems.isEmpty()
                                          ? QString()
                                          : QStringLiteral(": ") +
                                                (report.notes + report.problems)
                                                    .join(QStringLiteral("; "))));
    QDir().mkpath(saveFolder);
    for (const Content &content : contents) {
        try {
            report.done.append(put(saveFolder + u'/' + content.target, content.bytes, content.what));
        } catch (const HostError &error) {
            report.problems.append(error.message());
        }
    }
    if (plan.others > 0)
        report.notes.append(QStringLiteral("%1 other file(s) in \"%2\" are no save files and were "
                                          "not copied")
                               .arg(plan.others)
                               .arg(dir));
    return report;
}

} // namespace SaveTransfer
