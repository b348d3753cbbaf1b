#include "bridge/core/DurableFile.h"

#include "bridge/core/SaveFiles.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DurableFile {
namespace {

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
            const QByteArray name = QFile::encodeName(
                SaveFiles::TempPrefix.toString() +
                QString::number(QRandomGenerator::global()->generate64(), 36) +
                SaveFiles::TempSuffix.toString());
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

} // namespace

QString ErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString Printable(const QString &s)
{
    QString shown = s;
    return shown.replace(QChar(u'\0'), QStringLiteral("\\0"));
}

bool NativePath(const QString &path, QByteArray &native)
{
    if (path.isEmpty() || path.contains(QChar(u'\0')))
        return false;
    native = QFile::encodeName(path);
    return true;
}

QByteArray FolderOf(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : file.left(slash);
}

int SyncFolder(const QByteArray &folder)
{
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int result = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    close(fd);
    return result;
}

QString Replace(const QByteArray &target, const QByteArray &bytes, int mode, bool *renamed,
                const std::function<QString()> &beforeRename)
{
    if (renamed)
        *renamed = false;
    const QByteArray folder = FolderOf(target);
    TempFile temp;
    if (const int error = temp.create(folder))
        return QStringLiteral("cannot create a file in the folder \"%1\": %2")
            .arg(QFile::decodeName(folder), ErrorText(error));
    if (mode >= 0 && fchmod(temp.fd(), mode_t(mode) & 07777) != 0)
        return QStringLiteral("cannot keep the file's permissions: %1").arg(ErrorText(errno));
    if (const int error = writeAll(temp.fd(), bytes))
        return ErrorText(error);
    if (fsync(temp.fd()) != 0)
        return ErrorText(errno);
    if (const int error = temp.closeFile())
        return ErrorText(error);
    if (beforeRename) {
        if (const QString problem = beforeRename(); !problem.isEmpty())
            return problem;
    }
    if (rename(temp.path().constData(), target.constData()) != 0)
        return ErrorText(errno);
    temp.commit();
    if (renamed)
        *renamed = true;
    if (const int error = SyncFolder(folder))
        return QStringLiteral("the new content may not be on disk yet: %1").arg(ErrorText(error));
    return QString();
}

int ReadRegularFile(const QByteArray &native, QByteArray &content)
{
    // Non-blocking, so that a file swapped for a FIFO after a check cannot hang the open.
    const int fd = open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    int error = fstat(fd, &st) == 0 ? (S_ISREG(st.st_mode) ? 0 : EINVAL) : errno;
    QByteArray data;
    if (!error)
        data.reserve(qsizetype(st.st_size));
    char buffer[65536];
    while (!error) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            data.append(buffer, n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
            error = errno;
    }
    close(fd);
    if (!error)
        content = data;
    return error;
}

} // namespace DurableFile
