#include "bridge/core/SaveBackups.h"

#include "bridge/core/DurableFile.h"
#include "bridge/core/HostError.h"
#include "bridge/core/SaveFiles.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SaveBackups {
namespace {

using namespace DurableFile;

[[noreturn]] void fail(const QString &reason)
{
    throw HostError(reason);
}

QString lastComponent(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool newerFirst(const Version &a, const Version &b)
{
    return a.time != b.time ? a.time > b.time : a.sequence > b.sequence;
}

// The versions of one file (all files for an empty name) in the native folder.
QList<Version> versionsIn(const QByteArray &folder, const QString &file, bool withSizes)
{
    QList<Version> found;
    DIR *dir = opendir(folder.constData());
    if (!dir)
        return found;
    const QString folderName = QFile::decodeName(folder);
    const QByteArray prefix = QFile::encodeName(file) + '.';
    while (const dirent *item = readdir(dir)) {
        // Most entries of a large folder belong to other files: a byte compare skips them.
        if (!file.isEmpty() && std::strncmp(item->d_name, prefix.constData(), size_t(prefix.size())))
            continue;
        std::optional<Version> version = ParseVersionName(QFile::decodeName(item->d_name));
        if (!version || (!file.isEmpty() && version->file != file))
            continue;
        // Sizes only for the list; retention needs the names alone.
        struct stat st {};
        if (withSizes && (fstatat(dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                          !S_ISREG(st.st_mode)))
            continue;
        version->size = withSizes ? qint64(st.st_size) : 0;
        version->path = folderName + u'/' + QFile::decodeName(item->d_name);
        found.append(*version);
    }
    closedir(dir);
    return found;
}

// Creates the backups folder in saveFolder when it is missing.
void makeFolder(const QByteArray &saveFolder, const QByteArray &folder)
{
    if (mkdir(folder.constData(), 0777) == 0) {
        if (const int error = SyncFolder(saveFolder))
            fail(QStringLiteral("the folder \"%1\" may not be on disk yet: %2")
                     .arg(QFile::decodeName(folder), ErrorText(error)));
        return;
    }
    if (errno != EEXIST)
        fail(QStringLiteral("cannot create the folder \"%1\": %2")
                 .arg(QFile::decodeName(folder), ErrorText(errno)));
    struct stat st {};
    if (stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        fail(QStringLiteral("\"%1\" is not a folder").arg(QFile::decodeName(folder)));
}

// Errors of link() that mean "this file system cannot link here", not "something is wrong".
bool cannotLinkHere(int error)
{
    return error == EXDEV || error == EPERM || error == EMLINK || error == ENOTSUP ||
           error == EOPNOTSUPP || error == ENOSYS;
}

} // namespace

QString FolderOf(const QString &saveFolder)
{
    return saveFolder + u'/' + FolderName.toString();
}

QString VersionName(const QString &file, const QDateTime &time, int sequence)
{
    QString name = file + u'.' +
                   time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz")) + u'Z';
    if (sequence > 1)
        name += u'-' + QString::number(sequence);
    return name;
}

std::optional<Version> ParseVersionName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(.+)\.(\d{4})(\d\d)(\d\d)T(\d\d)(\d\d)(\d\d)\.(\d{3})Z(?:-([2-9]|[1-9]\d{1,8}))?$)"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    auto number = [&match](int group) { return match.captured(group).toInt(); };
    const QDate date(number(2), number(3), number(4));
    const QTime time(number(5), number(6), number(7), number(8));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    Version version;
    version.file = match.captured(1);
    version.time = QDateTime(date, time, QTimeZone::utc());
    version.sequence = match.captured(9).isEmpty() ? 1 : number(9);
    return version;
}

QString ListedTime(const QDateTime &time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"));
}

QString KeepOldContent(const QString &saveFile, const QByteArray *replacement)
{
    QByteArray native;
    if (!NativePath(saveFile, native))
        fail(QStringLiteral("the path is empty or holds a NUL character"));
    struct stat st {};
    if (stat(native.constData(), &st) != 0) {
        if (errno == ENOENT)
            return QString();
        fail(ErrorText(errno));
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0)
        return QString();
    QByteArray old;
    bool haveOld = false;
    if (replacement && replacement->size() == qsizetype(st.st_size)) {
        if (const int error = ReadRegularFile(native, old))
            fail(QStringLiteral("cannot read the old content: %1").arg(ErrorText(error)));
        haveOld = true;
        if (old == *replacement)
            return QString();
    }

    const QByteArray saveFolder = DurableFile::FolderOf(native);
    const QByteArray folder = saveFolder + '/' + FolderName.toUtf8();
    makeFolder(saveFolder, folder);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(
        qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, QTimeZone::utc());
    const QString file = lastComponent(saveFile);
    QByteArray backup;
    for (int sequence = 1;; ++sequence) {
        backup = folder + '/' + QFile::encodeName(VersionName(file, time, sequence));
        struct stat existing {};
        if (lstat(backup.constData(), &existing) != 0 && errno == ENOENT)
            break;
        if (sequence >= 100000)
            fail(QStringLiteral("too many versions of \"%1\" from one moment").arg(file));
    }

    // The old content is not flushed again: a save wrote it durably, and content put there
    // otherwise is as durable as it was before (flushing it cost a device flush per save).
    if (linkat(AT_FDCWD, native.constData(), AT_FDCWD, backup.constData(), AT_SYMLINK_FOLLOW) == 0)
        return QFile::decodeName(backup);
    if (!cannotLinkHere(errno))
        fail(QStringLiteral("cannot make the backup \"%1\": %2")
                 .arg(QFile::decodeName(backup), ErrorText(errno)));
    // A file system without hard links (or the save file elsewhere, through a link): copy.
    if (!haveOld) {
        if (const int error = ReadRegularFile(native, old))
            fail(QStringLiteral("cannot read the old content: %1").arg(ErrorText(error)));
    }
    const QString problem = Replace(backup, old, int(st.st_mode & 0777));
    if (!problem.isEmpty())
        fail(QStringLiteral("cannot write the backup \"%1\": %2")
                 .arg(QFile::decodeName(backup), problem));
    return QFile::decodeName(backup);
}

QString MakeDurable(const QString &version)
{
    QByteArray native;
    if (version.isEmpty() || !NativePath(version, native))
        return QString();
    if (const int error = SyncFolder(DurableFile::FolderOf(native)))
        return QStringLiteral("its old content may not be on disk in \"%1\": %2")
            .arg(version, ErrorText(error));
    return QString();
}

void Prune(const QString &saveFile, const QDateTime &now)
{
    QByteArray native;
    if (!NativePath(saveFile, native))
        return;
    const QByteArray folder = DurableFile::FolderOf(native) + '/' + FolderName.toUtf8();
    for (const Version &old : Unkept(versionsIn(folder, lastComponent(saveFile), false), now))
        unlink(QFile::encodeName(old.path).constData());
    // A copy cut short by a crash; only one copy of the program runs, so none is in progress.
    SaveFiles::RemoveLeftoverTempFiles(QFile::decodeName(folder));
}

QList<Version> Unkept(QList<Version> versions, const QDateTime &now)
{
    std::sort(versions.begin(), versions.end(), newerFirst);
    const QDate firstDay = now.toLocalTime().date().addDays(-(KeptDays - 1));
    QSet<QDate> days;
    QList<Version> unkept;
    for (qsizetype i = 0; i < versions.size(); ++i) {
        const QDate day = versions[i].time.toLocalTime().date();
        const bool newestOfARecentDay = day >= firstDay && !days.contains(day);
        if (newestOfARecentDay)
            days.insert(day);
        if (i >= KeptVersions && !newestOfARecentDay)
            unkept.append(versions[i]);
    }
    return unkept;
}

QList<Version> List(const QString &saveFolder)
{
    QByteArray native;
    if (!NativePath(FolderOf(saveFolder), native))
        return {};
    QList<Version> versions = versionsIn(native, QString(), true);
    std::sort(versions.begin(), versions.end(), [](const Version &a, const Version &b) {
        if (a.file != b.file) {
            const QString keyA = a.file.toUpper(), keyB = b.file.toUpper();
            return keyA != keyB ? keyA < keyB : a.file < b.file;
        }
        return newerFirst(a, b);
    });
    return versions;
}

} // namespace SaveBackups
