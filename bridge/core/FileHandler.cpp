#include "bridge/core/FileHandler.h"
#include "bridge/core/DurableFile.h"

#include <QFile>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace FileHandler {
namespace {

// Seconds from 1601-01-01 (the Windows file-time epoch) to 1970-01-01 (the Unix epoch).
constexpr qint64 FileTimeEpochOffset = 11644473600;
constexpr quint64 FileTimeTicksPerSecond = 10'000'000;

using DurableFile::NativePath;

bool isAscii(const QString &s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QList<uint> caseFolded(const QString &s)
{
    // Most names are plain ASCII, where folding only lowers A..Z.
    if (isAscii(s)) {
        QList<uint> codePoints(s.size());
        for (qsizetype i = 0; i < s.size(); ++i) {
            const uint c = s[i].unicode();
            codePoints[i] = c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
        }
        return codePoints;
    }
    QList<uint> codePoints = s.toUcs4();
    for (uint &c : codePoints)
        c = QChar::toCaseFolded(char32_t(c));
    return codePoints;
}

// "*" matches any run (also an empty one), "?" exactly one character; everything else
// must be equal. Both sides are already case-folded.
bool matchFolded(const QList<uint> &expression, const QList<uint> &name)
{
    qsizetype e = 0;
    qsizetype n = 0;
    qsizetype starAt = -1;  // position of the last "*" seen in the expression
    qsizetype starName = 0; // where in the name that "*" currently ends
    while (n < name.size()) {
        if (e < expression.size() && expression[e] == '*') {
            starAt = e++;
            starName = n;
        } else if (e < expression.size() && (expression[e] == '?' || expression[e] == name[n])) {
            ++e;
            ++n;
        } else if (starAt >= 0) {
            // Let the last "*" swallow one more character and try again from there.
            e = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (e < expression.size() && expression[e] == '*')
        ++e;
    return e == expression.size();
}

// A wildcard expression folded once, for matching it against many names.
struct FoldedExpression {
    explicit FoldedExpression(const QString &expression)
        : whole(caseFolded(expression)), extensionStar(expression.endsWith(u".*")),
          stem(extensionStar ? caseFolded(expression.chopped(2)) : QList<uint>())
    {
    }

    bool matches(const QString &name) const
    {
        const QList<uint> foldedName = caseFolded(name);
        // As on Windows, an extension "*" may also be absent: "abc.*" matches "abc", and
        // "*.*" matches every name, with or without a dot.
        return (extensionStar && matchFolded(stem, foldedName)) || matchFolded(whole, foldedName);
    }

    QList<uint> whole;
    bool extensionStar;
    QList<uint> stem; // the expression without its ".*", when it ends in one
};

// NTFS keeps a folder's names ordered by their upper-case form, compared character code
// by character code; names that differ only in case (possible on Linux) are ordered by
// their own codes so that the order never depends on the file system.
QString upperKey(const QString &name)
{
    // In ASCII only a..z have an upper-case form.
    if (isAscii(name)) {
        QString key = name;
        for (QChar &c : key) {
            if (c.unicode() >= 'a' && c.unicode() <= 'z')
                c = QChar(c.unicode() - ('a' - 'A'));
        }
        return key;
    }
    QList<uint> codePoints = name.toUcs4();
    for (uint &c : codePoints)
        c = QChar::toUpper(char32_t(c));
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codePoints.constData()),
                             codePoints.size());
}

// The last-write time in a file's status as GetFileWriteTime reports it (directories aside).
quint64 fileTimeOf(const struct stat &st)
{
    const qint64 seconds = qint64(st.st_mtim.tv_sec) + FileTimeEpochOffset;
    if (seconds < 0 ||
        quint64(seconds) > (~quint64(0) - FileTimeTicksPerSecond) / FileTimeTicksPerSecond)
        return 0;
    return quint64(seconds) * FileTimeTicksPerSecond + quint64(st.st_mtim.tv_nsec) / 100;
}

struct Entry {
    QString name;
    QString key;
    quint32 attributes;
    quint64 writeTime; // zero for directories and for entries whose status cannot be read
};

// Directories get the directory attribute; every other kind of entry (regular file,
// FIFO, device, socket, broken link) is an archived file, never a value in 16..23.
// Links are followed, so a link to a folder is a folder. Only the entry's status is read;
// nothing is opened. The same status gives the entry's write time.
void readStatus(int folder, const char *name, Entry &entry)
{
    struct stat st {};
    if (fstatat(folder, name, &st, 0) != 0) {
        entry.attributes = ArchiveAttribute;
        entry.writeTime = 0;
    } else if (S_ISDIR(st.st_mode)) {
        entry.attributes = DirectoryAttribute;
        entry.writeTime = 0;
    } else {
        entry.attributes = ArchiveAttribute;
        entry.writeTime = fileTimeOf(st);
    }
}

// The full path of the entry name in folder.
QString entryPath(const QString &folder, const QString &name)
{
    return folder == u"/" ? folder + name : folder + u'/' + name;
}

// True when the status read through the folder is the one GetFileWriteTime would read
// through the entry's path: the decoded name encodes back to the bytes on disk (a name
// that is not valid UTF-8 does not, and its path names another file), and the path is
// short enough for the system calls.
bool pathReachesEntry(const QByteArray &nativeFolder, const QString &name, const char *nativeName)
{
    const size_t nameLength = std::strlen(nativeName);
    if (size_t(nativeFolder.size()) + 1 + nameLength >= PATH_MAX)
        return false;
    const bool ascii = std::all_of(nativeName, nativeName + nameLength,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii || QFile::encodeName(name) == QByteArrayView(nativeName, qsizetype(nameLength));
}

// All entries of folder whose names match expression, "." and ".." included, in the
// order of an NTFS folder. A folder that cannot be opened has no entries; a failure
// during the enumeration ends it with the entries read so far. With exactTimes, every
// write time is the one GetFileWriteTime gives for the entry's path.
std::vector<Entry> matchingEntries(const QString &folder, const QString &expression,
                                   bool exactTimes)
{
    std::vector<Entry> entries;
    QByteArray nativeFolder;
    if (!NativePath(folder, nativeFolder))
        return entries;
    DIR *dir = opendir(nativeFolder.constData());
    if (!dir)
        return entries;
    const int folderFd = dirfd(dir);
    const FoldedExpression folded(expression);
    while (const dirent *item = readdir(dir)) {
        const QString name = QFile::decodeName(item->d_name);
        if (!folded.matches(name))
            continue;
        Entry entry{name, upperKey(name), ArchiveAttribute, 0};
        readStatus(folderFd, item->d_name, entry);
        if (exactTimes && !IsDirectoryAttribute(entry.attributes) &&
            !pathReachesEntry(nativeFolder, name, item->d_name))
            entry.writeTime = GetFileWriteTime(entryPath(folder, name));
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        const int byKey = QString::compare(a.key, b.key);
        return byKey != 0 ? byKey < 0 : a.name < b.name;
    });
    return entries;
}

// Windows-1252 for the bytes 0x80..0x9F; the five bytes the code page leaves undefined
// map to the control character of the same value, as Windows converts them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

QString decodeCp1252(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = QChar(b >= 0x80 && b <= 0x9F ? Cp1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

// Reads the whole regular file at native; false on any failure.
bool readRegularFile(const QByteArray &native, QByteArray &content)
{
    // Non-blocking, so that a file swapped for a FIFO after the check cannot hang the open.
    const int fd = open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    QByteArray data;
    if (ok)
        data.reserve(qsizetype(st.st_size));
    char buffer[65536];
    while (ok) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            data.append(buffer, n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
            ok = false;
    }
    close(fd);
    if (ok)
        content = data;
    return ok;
}

} // namespace

bool MatchesWildcard(const QString &expression, const QString &name)
{
    return FoldedExpression(expression).matches(name);
}

QStringList ListFiles(const QString &pattern, QList<quint64> *writeTimes)
{
    QString search = pattern;
    if (search.endsWith(u'/'))
        search += u"*.*";
    const qsizetype slash = search.lastIndexOf(u'/');
    const QString folder = slash < 0    ? QStringLiteral(".")
                           : slash == 0 ? QStringLiteral("/")
                                        : search.left(slash);
    const QString expression = search.mid(slash + 1);

    QStringList files{QString()};
    QList<quint64> times{0};
    const std::vector<Entry> entries = matchingEntries(folder, expression, writeTimes != nullptr);
    if (!entries.empty()) {
        // The first qualifying entry fills element 0; every later one is appended.
        if (!IsDirectoryAttribute(entries.front().attributes)) {
            files[0] = TrimAtNull(entries.front().name);
            times[0] = entries.front().writeTime;
        }
        for (auto it = entries.begin() + 1; it != entries.end(); ++it) {
            if (IsDirectoryAttribute(it->attributes))
                continue;
            const qsizetype index = files[0].isEmpty() ? 0 : files.size();
            if (index == files.size()) {
                files.append(QString());
                times.append(0);
            }
            files[index] = TrimAtNull(it->name);
            times[index] = it->writeTime;
        }
    }
    if (writeTimes)
        *writeTimes = times;
    return files;
}

QString TrimAtNull(const QString &s)
{
    const qsizetype nul = s.indexOf(QChar(u'\0'));
    return nul < 0 ? s : s.left(nul);
}

bool IsDirectoryAttribute(quint32 attributes)
{
    return attributes >= 16 && attributes <= 23;
}

quint64 GetFileWriteTime(const QString &path)
{
    QByteArray native;
    struct stat st {};
    if (!NativePath(path, native) || stat(native.constData(), &st) != 0 || S_ISDIR(st.st_mode))
        return 0;
    return fileTimeOf(st);
}

QString ReadWholeFile(const QString &path)
{
    QByteArray native;
    struct stat st {};
    if (!NativePath(path, native) || stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QString();
    QByteArray content;
    if (!readRegularFile(native, content))
        return QString();
    return DecodeFileText(content);
}

QString DecodeFileText(const QByteArray &bytes)
{
    // Stateless: a sequence cut off at the end is an error, not pending input. The BOM,
    // if any, is part of the text and handed back as it is stored.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? decodeCp1252(bytes) : text;
}

} // namespace FileHandler
