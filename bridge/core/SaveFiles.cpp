#include "bridge/core/SaveFiles.h"

#include "bridge/core/DurableFile.h"
#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"
#include "bridge/core/SaveBackups.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SaveFiles {
namespace {

using DurableFile::ErrorText;
using DurableFile::NativePath;
using DurableFile::Printable;

[[noreturn]] void failWrite(const QString &path, const QString &reason)
{
    throw HostError(
        QStringLiteral("Cannot write the save file \"%1\": %2").arg(Printable(path), reason));
}

[[noreturn]] void failDelete(const QString &path, const QString &reason)
{
    throw HostError(
        QStringLiteral("Cannot delete the profile file \"%1\": %2").arg(Printable(path), reason));
}

bool isReadOnly(const QByteArray &file, const struct stat &st)
{
    // The owner's write bit is the read-only attribute of a save file; it is checked by
    // itself because access() grants everything to root.
    return (st.st_mode & S_IWUSR) == 0 || access(file.constData(), W_OK) != 0;
}

// Keeps the old content of the save file at path in the backups before it is replaced
// (or, for nullptr, deleted); a backup that cannot be made stops the change. Returns the
// version made, if any.
QString keepOldContent(const QString &path, const QByteArray *replacement, bool deleting)
{
    try {
        return SaveBackups::KeepOldContent(path, replacement);
    } catch (const HostError &error) {
        const QString reason =
            QStringLiteral("its old content cannot be kept in \"%1\" (%2); the file was left "
                           "as it was")
                .arg(SaveBackups::FolderName.toString(), error.message());
        if (deleting)
            failDelete(path, reason);
        failWrite(path, reason);
    }
}

// A change that failed leaves the old content in place: its version goes again.
void dropVersion(const QString &version)
{
    if (!version.isEmpty())
        unlink(QFile::encodeName(version).constData());
}

void replaceFile(const QString &path, const QByteArray &bytes)
{
    QByteArray target;
    if (!NativePath(path, target))
        failWrite(path, QStringLiteral("the path is empty or holds a NUL character"));

    // The file as it stands decides what may be done, and which permissions to keep.
    struct stat st {};
    bool exists = false;
    if (lstat(target.constData(), &st) == 0) {
        exists = true;
        if (S_ISLNK(st.st_mode)) {
            // Replace the file the link points to and keep the link.
            char *resolved = realpath(target.constData(), nullptr);
            if (!resolved)
                failWrite(path,
                          QStringLiteral("the link leads nowhere (%1)").arg(ErrorText(errno)));
            target = resolved;
            std::free(resolved);
            if (stat(target.constData(), &st) != 0)
                failWrite(path, ErrorText(errno));
        }
        if (S_ISDIR(st.st_mode))
            failWrite(path, QStringLiteral("it is a folder"));
        if (!S_ISREG(st.st_mode))
            failWrite(path, QStringLiteral("it is not a regular file"));
        if (isReadOnly(target, st))
            failWrite(path, QStringLiteral("the file is read-only"));
    } else if (errno != ENOENT) {
        failWrite(path, ErrorText(errno));
    }

    const QString version = exists ? keepOldContent(path, &bytes, false) : QString();
    bool renamed = false;
    const QString problem =
        DurableFile::Replace(target, bytes, exists ? int(st.st_mode) : -1, &renamed,
                             [&version] { return SaveBackups::MakeDurable(version); });
    if (!problem.isEmpty()) {
        if (!renamed)
            dropVersion(version);
        failWrite(path, problem);
    }
    if (!version.isEmpty())
        SaveBackups::Prune(path);
}

// True for a name our writes give their temporary files: the prefix, a 64-bit random
// number in base 36 (1 to 13 of 0-9 and a-z), the suffix.
bool isLeftoverName(const QByteArray &name)
{
    const QByteArray prefix = TempPrefix.toUtf8();
    const QByteArray suffix = TempSuffix.toUtf8();
    if (!name.startsWith(prefix) || !name.endsWith(suffix))
        return false;
    const QByteArray middle = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size());
    return !middle.isEmpty() && middle.size() <= 13 &&
           std::all_of(middle.begin(), middle.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
           });
}

} // namespace

void WriteSaveFile(const QString &path, const QString &text)
{
    replaceFile(path, text.toUtf8() + "\r\n");
}

void CreateEmptyFile(const QString &path)
{
    replaceFile(path, QByteArray());
}

void WriteSaveBytes(const QString &path, const QByteArray &bytes)
{
    replaceFile(path, bytes);
}

QString ListedName(const QString &fileName)
{
    return fileName.left(fileName.size() - 4).toUpper();
}

QString ProfilePath(const QString &savePath, const QString &name)
{
    if (name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(u'\0')))
        throw HostError(
            QStringLiteral("The player name \"%1\" cannot be used: a player name must not "
                           "hold \"/\", \"\\\" or a NUL character")
                .arg(Printable(name)));
    const QString fileName = name + QStringLiteral(".xml");
    const QString listed = ListedName(fileName);
    const QStringList profiles = FileHandler::ListFiles(savePath + QStringLiteral("/*.xml"));
    for (const QString &existing : profiles) {
        if (!existing.isEmpty() && ListedName(existing) == listed)
            return savePath + u'/' + existing;
    }
    return savePath + u'/' + fileName;
}

void DeleteProfile(const QString &path)
{
    QByteArray native;
    if (!NativePath(path, native))
        failDelete(path, QStringLiteral("the path is empty or holds a NUL character"));
    struct stat st {};
    if (lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw HostError(
                QStringLiteral("No profile file \"%1\" was found").arg(Printable(path)));
        failDelete(path, ErrorText(errno));
    }
    if (S_ISDIR(st.st_mode))
        failDelete(path, QStringLiteral("it is a folder"));
    // A read-only profile is protected from deletion as it is from being overwritten.
    if (S_ISREG(st.st_mode) && isReadOnly(native, st))
        failDelete(path, QStringLiteral("the file is read-only"));
    const QString version = keepOldContent(path, nullptr, true);
    if (const QString problem = SaveBackups::MakeDurable(version); !problem.isEmpty()) {
        dropVersion(version);
        failDelete(path, problem);
    }
    if (unlink(native.constData()) != 0) {
        const int error = errno;
        dropVersion(version);
        failDelete(path, ErrorText(error));
    }
    DurableFile::SyncFolder(DurableFile::FolderOf(native));
    if (!version.isEmpty())
        SaveBackups::Prune(path);
}

void RemoveLeftoverTempFiles(const QString &folder)
{
    QByteArray native;
    if (!NativePath(folder, native))
        return;
    DIR *dir = opendir(native.constData());
    if (!dir)
        return;
    const int folderFd = dirfd(dir);
    while (const dirent *item = readdir(dir)) {
        struct stat st {};
        if (isLeftoverName(QByteArray(item->d_name)) &&
            fstatat(folderFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(folderFd, item->d_name, 0);
    }
    closedir(dir);
}

} // namespace SaveFiles
