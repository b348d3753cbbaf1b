#include "bridge/core/SaveFiles.h"

#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SaveFiles {
namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A name as it can be shown in a message: a NUL character would end the text there.
QString printable(const QString &s)
{
    QString shown = s;
    return shown.replace(QChar(u'\0'), QStringLiteral("\\0"));
}

[[noreturn]] void failWrite(const QString &path, const QString &reason)
{
    throw HostError(
        QStringLiteral("Cannot write the save file \"%1\": %2").arg(printable(path), reason));
}

[[noreturn]] void failDelete(const QString &path, const QString &reason)
{
    throw HostError(
        QStringLiteral("Cannot delete the profile file \"%1\": %2").arg(printable(path), reason));
}

// The 8-bit form of a path for the system calls, or nothing when the path is empty or
// holds a NUL character (the system would cut it short there and address another file).
bool nativePath(const QString &path, QByteArray &native)
{
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return false;
    native = QFile::encodeName(path);
    return true;
}

QByteArray folderOf(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : file.left(slash);
}

// Makes a rename or removal in folder durable. File systems that cannot sync a folder
// answer EINVAL; there is nothing more to do on them.
int syncFolder(const QByteArray &folder)
{
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    close(fd);
    return result;
}

bool isReadOnly(const QByteArray &file, const struct stat &st)
{
    // The owner's write bit is the read-only attribute of a save file; it is checked by
    // itself because access() grants everything to root.
    return (st.st_mode & S_IWUSR) == 0 || access(file.constData(), W_OK) != 0;
}

// A temporary file of a write in progress; removed again unless the write was committed.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile()
    {
        closeFile();
        if (!path_.isEmpty() && !committed_)
            unlink(path_.constData());
    }

    // Creates a fresh temporary file in folder; returns errno on failure.
    int create(const QByteArray &folder)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray name =
                QFile::encodeName(TempPrefix.toString() +
                                  QString::number(QRandomGenerator::global()->generate64(), 36) +
                                  TempSuffix.toString());
            const QByteArray candidate = folder + '/' + name;
            // The mode is what a plain create would give: 0666 less the umask.
            fd_ = open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                path_ = candidate;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int fd() const { return fd_; }
    const QByteArray &path() const { return path_; }

    // Closes the file; returns errno when the close reports a failed write.
    int closeFile()
    {
        if (fd_ < 0)
            return 0;
        const int result = close(fd_) == 0 ? 0 : errno;
        fd_ = -1;
        return result;
    }

    void commit() { committed_ = true; }

private:
    QByteArray path_;
    int fd_ = -1;
    bool committed_ = false;
};

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

void replaceFile(const QString &path, const QByteArray &bytes)
{
    QByteArray target;
    if (!nativePath(path, target))
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
                          QStringLiteral("the link leads nowhere (%1)").arg(errorText(errno)));
            target = resolved;
            std::free(resolved);
            if (stat(target.constData(), &st) != 0)
                failWrite(path, errorText(errno));
        }
        if (S_ISDIR(st.st_mode))
            failWrite(path, QStringLiteral("it is a folder"));
        if (!S_ISREG(st.st_mode))
            failWrite(path, QStringLiteral("it is not a regular file"));
        if (isReadOnly(target, st))
            failWrite(path, QStringLiteral("the file is read-only"));
    } else if (errno != ENOENT) {
        failWrite(path, errorText(errno));
    }

    const QByteArray folder = folderOf(target);
    TempFile temp;
    if (const int error = temp.create(folder))
        failWrite(path, QStringLiteral("cannot create a file in the folder \"%1\": %2")
                            .arg(QFile::decodeName(folder), errorText(error)));
    if (exists && fchmod(temp.fd(), st.st_mode & 07777) != 0)
        failWrite(path,
                  QStringLiteral("cannot keep the file's permissions: %1").arg(errorText(errno)));
    if (const int error = writeAll(temp.fd(), bytes))
        failWrite(path, errorText(error));
    if (fsync(temp.fd()) != 0)
        failWrite(path, errorText(errno));
    if (const int error = temp.closeFile())
        failWrite(path, errorText(error));
    if (rename(temp.path().constData(), target.constData()) != 0)
        failWrite(path, errorText(errno));
    temp.commit();
    if (const int error = syncFolder(folder))
        failWrite(
            path,
            QStringLiteral("the new content may not be on disk yet: %1").arg(errorText(error)));
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
                .arg(printable(name)));
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
    if (!nativePath(path, native))
        failDelete(path, QStringLiteral("the path is empty or holds a NUL character"));
    struct stat st {};
    if (lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw HostError(
                QStringLiteral("No profile file \"%1\" was found").arg(printable(path)));
        failDelete(path, errorText(errno));
    }
    if (S_ISDIR(st.st_mode))
        failDelete(path, QStringLiteral("it is a folder"));
    // A read-only profile is protected from deletion as it is from being overwritten.
    if (S_ISREG(st.st_mode) && isReadOnly(native, st))
        failDelete(path, QStringLiteral("the file is read-only"));
    if (unlink(native.constData()) != 0)
        failDelete(path, errorText(errno));
    syncFolder(folderOf(native));
}

void RemoveLeftoverTempFiles(const QString &folder)
{
    QByteArray native;
    if (!nativePath(folder, native))
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
