// FileHandler against a real temporary folder: listing order and wildcard rules, time
// stamps at full resolution, and reads that never open special files.
#include "bridge/core/FileHandler.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileHandler;

namespace {

class FileHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.filePath(name); }

    void writeBytes(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    void makeFolder(const QString &name) const { ASSERT_TRUE(QDir(dir.path()).mkdir(name)); }

    void makeFifo(const QString &name) const
    {
        ASSERT_EQ(mkfifo(QFile::encodeName(path(name)).constData(), 0644), 0);
    }

    void setWriteTime(const QString &name, time_t seconds, long nanoseconds) const
    {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path(name)).constData(), times, 0), 0);
    }

    QTemporaryDir dir;
};

const QStringList NothingFound{QString()};

// --- ListFiles -----------------------------------------------------------------------

TEST_F(FileHandlerTest, ListsInUpperCasedNameOrderWhateverTheCreationOrder)
{
    // Byte order would put "Bob" before "anna" and "_z" before "anna"; an NTFS folder
    // compares upper-cased names, where "_" (0x5F) follows every letter.
    for (const char *name : {"_z.xml", "carl.XML", "Bob.xml", "anna.xml"})
        writeBytes(name, "x");
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"),
              (QStringList{"anna.xml", "Bob.xml", "carl.XML", "_z.xml"}));
}

TEST_F(FileHandlerTest, NamesDifferingOnlyInCaseHaveAFixedOrder)
{
    writeBytes("anna.xml", "1");
    writeBytes("ANNA.xml", "2");
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), (QStringList{"ANNA.xml", "anna.xml"}));
}

TEST_F(FileHandlerTest, ExtensionMatchesInAnyCaseAndOtherFilesAndFoldersAreLeftOut)
{
    writeBytes("notes.XML", "");
    writeBytes("hs.dat", "");
    writeBytes("config.dat", "");
    writeBytes("x.xmlx", "");
    makeFolder("x.xml");
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), QStringList{"notes.XML"});
}

TEST_F(FileHandlerTest, AFolderSortedFirstLeavesElementZeroToTheFirstFile)
{
    makeFolder("a.xml");
    writeBytes("b.xml", "");
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), QStringList{"b.xml"});
}

TEST_F(FileHandlerTest, NothingQualifyingGivesOneEmptyElement)
{
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), NothingFound) << "empty folder";
    writeBytes("hs.dat", "");
    makeFolder("only.xml");
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), NothingFound) << "no matching file";
    EXPECT_EQ(ListFiles(dir.path() + "/missing/*.xml"), NothingFound) << "missing folder";
    EXPECT_EQ(ListFiles(dir.path() + "/hs.dat/*.xml"), NothingFound) << "file as folder";
}

TEST_F(FileHandlerTest, TrailingSeparatorListsEveryFileButNoFolder)
{
    // "*.*" also matches "." and ".." and names without a dot; the folders among them
    // (".", "..", "sub") carry the directory attribute and are dropped.
    writeBytes("README", "");
    writeBytes("b.txt", "");
    writeBytes(".hidden", "");
    makeFolder("sub");
    EXPECT_EQ(ListFiles(dir.path() + "/"), (QStringList{".hidden", "b.txt", "README"}));
}

TEST_F(FileHandlerTest, LinksAndSpecialFilesAreListedByWhatTheyAre)
{
    makeFolder("real");
    ASSERT_EQ(symlink("real", QFile::encodeName(path("linked.xml")).constData()), 0);
    ASSERT_EQ(symlink("nowhere", QFile::encodeName(path("broken.xml")).constData()), 0);
    makeFifo("pipe.xml");
    // A link to a folder is a folder; a FIFO and a broken link count as files.
    EXPECT_EQ(ListFiles(dir.path() + "/*.xml"), (QStringList{"broken.xml", "pipe.xml"}));
}

TEST_F(FileHandlerTest, QuestionMarkStandsForExactlyOneCharacter)
{
    for (const char *name : {"a.xml", "ab.xml", "abc.xml", "AX.XML"})
        writeBytes(name, "");
    EXPECT_EQ(ListFiles(dir.path() + "/a?.xml"), (QStringList{"ab.xml", "AX.XML"}));
}

TEST(WildcardTest, FollowsTheWindowsRules)
{
    EXPECT_TRUE(MatchesWildcard("*.*", "README"));
    EXPECT_TRUE(MatchesWildcard("*.*", "."));
    EXPECT_TRUE(MatchesWildcard("*.*", "a.b.c"));
    EXPECT_TRUE(MatchesWildcard("abc.*", "abc"));
    EXPECT_FALSE(MatchesWildcard("*.xml", "README"));
    EXPECT_TRUE(MatchesWildcard("*", ""));
    EXPECT_FALSE(MatchesWildcard("?", ""));
    // A "*" must be able to give characters back: the first "ab" is not the match.
    EXPECT_TRUE(MatchesWildcard("*ab", "aabab"));
    EXPECT_TRUE(MatchesWildcard("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(MatchesWildcard("a*b*c", "aXbYbZ"));
    EXPECT_FALSE(MatchesWildcard("*.xml", "a.xml.tmp"));
}

TEST(WildcardTest, LettersMatchWithoutRegardToCaseBeyondAscii)
{
    EXPECT_TRUE(MatchesWildcard("*.XML", "notes.xml"));
    EXPECT_TRUE(MatchesWildcard("äpfel.*", "ÄPFEL.xml"));
    EXPECT_TRUE(MatchesWildcard("σ?", "Σω"));
    EXPECT_FALSE(MatchesWildcard("a.xml", "b.xml"));
}

// --- TrimAtNull and IsDirectoryAttribute -------------------------------------------

TEST(TrimAtNullTest, CutsAtTheFirstNul)
{
    EXPECT_EQ(TrimAtNull(QString::fromUtf16(u"abc\0def", 7)), "abc");
    EXPECT_EQ(TrimAtNull(QString::fromUtf16(u"\0x", 2)), "");
    EXPECT_EQ(TrimAtNull(QString::fromUtf16(u"a\0b\0c", 5)), "a");
    EXPECT_EQ(TrimAtNull("abc"), "abc");
    EXPECT_EQ(TrimAtNull(""), "");
}

TEST(IsDirectoryAttributeTest, OnlyTheEightExactValues)
{
    for (quint32 value = 16; value <= 23; ++value)
        EXPECT_TRUE(IsDirectoryAttribute(value)) << value;
    for (quint32 value : {0u, 1u, 15u, 24u, 32u, 48u, 0x80000010u})
        EXPECT_FALSE(IsDirectoryAttribute(value)) << value;
}

// --- GetFileWriteTime ----------------------------------------------------------------

TEST_F(FileHandlerTest, WriteTimeCountsHundredNanosecondsSince1601)
{
    writeBytes("a.xml", "");
    setWriteTime("a.xml", 0, 100);
    EXPECT_EQ(GetFileWriteTime(path("a.xml")), 116444736000000000ull + 1);
}

TEST_F(FileHandlerTest, WriteTimesOrderAtSubSecondResolution)
{
    writeBytes("older.xml", "");
    writeBytes("newer.xml", "");
    setWriteTime("older.xml", 1700000000, 200);
    setWriteTime("newer.xml", 1700000000, 500);
    EXPECT_LT(GetFileWriteTime(path("older.xml")), GetFileWriteTime(path("newer.xml")));
}

TEST_F(FileHandlerTest, WriteTimeIsZeroWhenUnavailable)
{
    makeFolder("folder.xml");
    EXPECT_EQ(GetFileWriteTime(path("missing.xml")), 0u);
    EXPECT_EQ(GetFileWriteTime(path("folder.xml")), 0u);
    EXPECT_EQ(GetFileWriteTime(""), 0u);
}

TEST_F(FileHandlerTest, WriteTimeOfAFifoComesWithoutOpeningIt)
{
    makeFifo("pipe.xml");
    setWriteTime("pipe.xml", 1700000000, 0);
    EXPECT_EQ(GetFileWriteTime(path("pipe.xml")), (1700000000ull + 11644473600ull) * 10000000ull);
}

// --- ReadWholeFile -------------------------------------------------------------------

TEST_F(FileHandlerTest, ReadGivesEverythingWithEveryLineBreak)
{
    writeBytes("two.xml", "first\r\nsecond\r\n");
    EXPECT_EQ(ReadWholeFile(path("two.xml")), "first\r\nsecond\r\n");
    writeBytes("odd.xml", QByteArray(" \"q\"\r\n\r\n\0end", 12));
    EXPECT_EQ(ReadWholeFile(path("odd.xml")), QString::fromUtf8(" \"q\"\r\n\r\n\0end", 12));
}

TEST_F(FileHandlerTest, ReadTakesTheWholeFileWhateverTheSizeItReports)
{
    // Larger than one read's chunk, read by the size the file reports.
    QByteArray big;
    for (int i = 0; big.size() < 200000; ++i)
        big += QByteArray::number(i) + "\r\n";
    writeBytes("big.xml", big);
    EXPECT_EQ(ReadWholeFile(path("big.xml")), QString::fromLatin1(big));
    // A regular file that reports size 0 but has content is read on to its end.
    QFile proc(QStringLiteral("/proc/self/cmdline"));
    ASSERT_TRUE(proc.open(QIODevice::ReadOnly));
    const QByteArray expected = proc.readAll();
    ASSERT_GT(expected.size(), 1);
    EXPECT_EQ(ReadWholeFile(proc.fileName()), DecodeFileText(expected));
}

TEST_F(FileHandlerTest, ReadOfAnythingButARegularFileIsEmpty)
{
    writeBytes("empty.xml", "");
    makeFolder("folder.xml");
    makeFifo("pipe.xml");
    EXPECT_EQ(ReadWholeFile(path("missing.xml")), "");
    EXPECT_EQ(ReadWholeFile(path("empty.xml")), "");
    EXPECT_EQ(ReadWholeFile(path("folder.xml")), "");
    EXPECT_EQ(ReadWholeFile(path("pipe.xml")), ""); // must return, not wait for a writer
    EXPECT_EQ(ReadWholeFile(""), "");
}

TEST_F(FileHandlerTest, ADotFileIsAnOrdinaryFile)
{
    writeBytes(".anna.xml", "level 3\r\n");
    EXPECT_EQ(ReadWholeFile(path(".anna.xml")), "level 3\r\n");
}

TEST_F(FileHandlerTest, ReadFollowsALinkToARegularFile)
{
    writeBytes("target", "data\r\n");
    ASSERT_EQ(symlink("target", QFile::encodeName(path("link.xml")).constData()), 0);
    EXPECT_EQ(ReadWholeFile(path("link.xml")), "data\r\n");
}

TEST_F(FileHandlerTest, ReadDecodesUtf8)
{
    const QString text = QString::fromUtf8("Äpfel – 東京 😀\r\n");
    writeBytes("utf8.xml", text.toUtf8());
    EXPECT_EQ(ReadWholeFile(path("utf8.xml")), text);
    writeBytes("bom.xml", "\xEF\xBB\xBF<a/>");
    EXPECT_EQ(ReadWholeFile(path("bom.xml")), QChar(0xFEFF) + QString("<a/>")); // BOM kept
}

TEST_F(FileHandlerTest, ReadFallsBackToWindows1252)
{
    writeBytes("old.xml", "\x93x\x94\xE9");
    EXPECT_EQ(ReadWholeFile(path("old.xml")), QString::fromUtf16(u"\u201Cx\u201D\u00E9"));
}

TEST(DecodeFileTextTest, Windows1252CoversEveryByte)
{
    // The euro sign, the undefined bytes (kept as controls), the top of the 0x80..0x9F
    // block, and Latin-1 above it.
    EXPECT_EQ(DecodeFileText("\x80\x81\x8D\x8F\x90\x9D\x9F\xA0\xFF"),
              QString::fromUtf16(u"\u20AC\u0081\u008D\u008F\u0090\u009D\u0178\u00A0\u00FF"));
    // Invalid UTF-8 anywhere makes the whole text Windows-1252: a cut-off sequence at the
    // end, an overlong form, an encoded surrogate.
    EXPECT_EQ(DecodeFileText("\xC3\xA9\xC3"), QString::fromUtf16(u"\u00C3\u00A9\u00C3"));
    EXPECT_EQ(DecodeFileText("\xC0\xAF"), QString::fromUtf16(u"\u00C0\u00AF"));
    EXPECT_EQ(DecodeFileText("\xED\xA0\x80"), QString::fromUtf16(u"\u00ED\u00A0\u20AC"));
}

} // namespace
