// SaveFiles against a real temporary save folder: exact bytes, atomic replacement that
// never loses the old content, case-insensitive profile addressing and refused names.
#include "bridge/core/SaveFiles.h"

#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace SaveFiles;

namespace {

class SaveFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.filePath(name); }

    QByteArray bytesOf(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    void writeBytes(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    void setMode(const QString &name, mode_t mode) const
    {
        ASSERT_EQ(chmod(QFile::encodeName(path(name)).constData(), mode), 0);
    }

    mode_t modeOf(const QString &name) const
    {
        struct stat st {};
        return stat(QFile::encodeName(path(name)).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    // Every entry of the save folder, hidden ones included.
    QStringList entries() const
    {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    }

    QTemporaryDir dir;
};

// Runs f, which must throw a HostError, and returns its message.
template <typename F>
QString hostErrorOf(F f)
{
    try {
        f();
    } catch (const HostError &error) {
        return error.message();
    }
    ADD_FAILURE() << "no HostError was thrown";
    return QString();
}

// --- Writing -------------------------------------------------------------------------

TEST_F(SaveFilesTest, WriteStoresUtf8TextAndOneCrLf)
{
    WriteSaveFile(path("hs.dat"), "abc");
    EXPECT_EQ(bytesOf("hs.dat"), QByteArray("abc\r\n"));

    WriteSaveFile(path("config.dat"), "a\r\nb\r\n");
    EXPECT_EQ(bytesOf("config.dat"), QByteArray("a\r\nb\r\n\r\n"));

    WriteSaveFile(path("Anna.xml"), "");
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray("\r\n"));

    const QString text = QString::fromUtf8("<p>Zoë – 東京 😀</p>");
    WriteSaveFile(path("Zoë.xml"), text);
    EXPECT_EQ(bytesOf("Zoë.xml"), text.toUtf8() + "\r\n");
    EXPECT_EQ(FileHandler::ReadWholeFile(path("Zoë.xml")), text + "\r\n");
}

TEST_F(SaveFilesTest, WriteReplacesTheWholeOldContent)
{
    writeBytes("Anna.xml", QByteArray(1000, 'x'));
    WriteSaveFile(path("Anna.xml"), "short");
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray("short\r\n"));
}

TEST_F(SaveFilesTest, CreateEmptyFileLeavesZeroBytes)
{
    CreateEmptyFile(path("Anna.xml"));
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray());
    writeBytes("Bob.xml", "old data\r\n");
    CreateEmptyFile(path("Bob.xml"));
    EXPECT_EQ(bytesOf("Bob.xml"), QByteArray());
}

TEST_F(SaveFilesTest, ANewFileGetsTheUsualModeAndAnExistingOneKeepsItsOwn)
{
    const mode_t mask = umask(022);
    WriteSaveFile(path("new.xml"), "x");
    umask(mask);
    EXPECT_EQ(modeOf("new.xml"), mode_t(0644));

    writeBytes("kept.xml", "x");
    setMode("kept.xml", 0600);
    WriteSaveFile(path("kept.xml"), "y");
    EXPECT_EQ(modeOf("kept.xml"), mode_t(0600));
}

TEST_F(SaveFilesTest, AReadOnlyFileIsRefusedAndLeftAsItWas)
{
    writeBytes("Anna.xml", "precious\r\n");
    setMode("Anna.xml", 0444);
    const QString message = hostErrorOf([&] { WriteSaveFile(path("Anna.xml"), "new"); });
    EXPECT_TRUE(message.contains(path("Anna.xml"))) << message.toStdString();
    EXPECT_TRUE(message.contains("read-only")) << message.toStdString();
    hostErrorOf([&] { CreateEmptyFile(path("Anna.xml")); });
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray("precious\r\n"));
    EXPECT_EQ(modeOf("Anna.xml"), mode_t(0444));
    EXPECT_EQ(entries(), QStringList{"Anna.xml"});
}

TEST_F(SaveFilesTest, FoldersAndSpecialFilesAreNeverReplaced)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("x.xml"));
    ASSERT_EQ(mkfifo(QFile::encodeName(path("pipe.xml")).constData(), 0644), 0);
    EXPECT_TRUE(hostErrorOf([&] { WriteSaveFile(path("x.xml"), "a"); }).contains("folder"));
    EXPECT_FALSE(hostErrorOf([&] { WriteSaveFile(path("pipe.xml"), "a"); }).isEmpty());
    EXPECT_TRUE(QFileInfo(path("x.xml")).isDir());
    struct stat st {};
    ASSERT_EQ(lstat(QFile::encodeName(path("pipe.xml")).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SaveFilesTest, WriteThroughALinkReplacesItsTargetAndKeepsTheLink)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    writeBytes("real/anna", "old\r\n");
    ASSERT_EQ(symlink("real/anna", QFile::encodeName(path("Anna.xml")).constData()), 0);
    WriteSaveFile(path("Anna.xml"), "new");
    EXPECT_TRUE(QFileInfo(path("Anna.xml")).isSymLink());
    EXPECT_EQ(bytesOf("real/anna"), QByteArray("new\r\n"));
}

TEST_F(SaveFilesTest, AMissingSaveFolderIsAnErrorNamingThePath)
{
    const QString missing = dir.filePath("gone/Anna.xml");
    const QString message = hostErrorOf([&] { WriteSaveFile(missing, "a"); });
    EXPECT_TRUE(message.contains(missing)) << message.toStdString();
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(SaveFilesTest, ANameTooLongForTheFileSystemLosesNothing)
{
    const QString name = QString(300, u'n') + ".xml";
    EXPECT_TRUE(hostErrorOf([&] { WriteSaveFile(path(name), "a"); }).contains(name));
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(SaveFilesTest, NoTemporaryFileIsLeftAfterASuccessOrAFailedWrite)
{
    writeBytes("Anna.xml", "old\r\n");
    WriteSaveFile(path("Anna.xml"), "new");
    EXPECT_EQ(entries(), (QStringList{"Anna.xml", "backups"}));

    // A file-size limit makes the write itself fail halfway, after the temporary file
    // exists, as a full disk would.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString message =
        hostErrorOf([&] { WriteSaveFile(path("Anna.xml"), QString(100, u'z')); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(message.contains(path("Anna.xml"))) << message.toStdString();
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray("new\r\n"));
    EXPECT_EQ(entries(), (QStringList{"Anna.xml", "backups"}));
    EXPECT_EQ(QDir(path("backups")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(SaveFilesTest, LeftoverTemporaryFilesAreNoProfilesAndCanBeRemoved)
{
    const QString leftover = TempPrefix.toString() + "k3x9" + TempSuffix.toString();
    writeBytes(leftover, "half a save");
    writeBytes("Anna.xml", "a\r\n");
    writeBytes("notes.tmp", "user file");
    EXPECT_EQ(FileHandler::ListFiles(dir.path() + "/*.xml"), QStringList{"Anna.xml"});

    RemoveLeftoverTempFiles(dir.path());
    EXPECT_EQ(entries(), (QStringList{"Anna.xml", "notes.tmp"}));
}

// --- Profile paths -------------------------------------------------------------------

TEST_F(SaveFilesTest, ProfilesAreFoundWithoutRegardToCase)
{
    CreateEmptyFile(ProfilePath(dir.path(), "Anna"));
    EXPECT_EQ(ProfilePath(dir.path(), "ANNA"), path("Anna.xml"));
    WriteSaveFile(ProfilePath(dir.path(), "ANNA"), "level");
    EXPECT_EQ(entries(), QStringList{"Anna.xml"});
    EXPECT_EQ(bytesOf("Anna.xml"), QByteArray("level\r\n"));

    writeBytes("notes.XML", "");
    EXPECT_EQ(ProfilePath(dir.path(), "NOTES"), path("notes.XML"));

    writeBytes("Äpfel.xml", "");
    EXPECT_EQ(ProfilePath(dir.path(), "äPFEL"), path("Äpfel.xml"));
    EXPECT_EQ(ProfilePath(dir.path(), "ÄPFEL"), path("Äpfel.xml"));
}

TEST_F(SaveFilesTest, AnUnknownProfileNameIsUsedUnchanged)
{
    writeBytes("Anna.xml", "");
    EXPECT_EQ(ProfilePath(dir.path(), "Zoe"), path("Zoe.xml"));
    EXPECT_EQ(ProfilePath(dir.path(), "Ann"), path("Ann.xml"));
    EXPECT_EQ(ProfilePath(dir.path(), " Anna "), path(" Anna .xml"));
    EXPECT_EQ(ProfilePath(dir.path(), ""), path(".xml"));
    EXPECT_EQ(ProfilePath(dir.path() + "/missing", "Anna"), dir.filePath("missing/Anna.xml"));
}

TEST_F(SaveFilesTest, AFolderIsNeverTakenForAProfile)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("bob.xml"));
    EXPECT_EQ(ProfilePath(dir.path(), "BOB"), path("BOB.xml"));
}

TEST_F(SaveFilesTest, AmongProfilesDifferingOnlyInCaseTheFirstListedWins)
{
    writeBytes("anna.xml", "");
    writeBytes("ANNA.xml", "");
    EXPECT_EQ(ProfilePath(dir.path(), "anna"), path("ANNA.xml"));
    EXPECT_EQ(ProfilePath(dir.path(), "Anna"), path("ANNA.xml"));
}

TEST_F(SaveFilesTest, NamesWithSeparatorsOrNulAreRefusedAndNothingIsTouched)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("save"));
    const QString save = dir.filePath("save");
    const QString withNul = QString::fromUtf16(u"ev\0il", 5);
    for (const QString &name : {QString("../evil"), QString("a/b"), QString("..\\evil"), withNul}) {
        const QString message = hostErrorOf([&] { ProfilePath(save, name); });
        EXPECT_TRUE(message.contains(QString(name).replace(QChar(u'\0'), "\\0")))
            << message.toStdString();
    }
    EXPECT_EQ(entries(), QStringList{"save"});
    EXPECT_TRUE(QDir(save).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_F(SaveFilesTest, APathWithANulIsNeverCutShort)
{
    writeBytes("ev", "keep\r\n");
    const QString withNul = path("ev") + QString::fromUtf16(u"\0il.xml", 7);
    hostErrorOf([&] { WriteSaveFile(withNul, "x"); });
    hostErrorOf([&] { DeleteProfile(withNul); });
    EXPECT_EQ(bytesOf("ev"), QByteArray("keep\r\n"));
}

// --- Deleting ------------------------------------------------------------------------

TEST_F(SaveFilesTest, DeleteRemovesTheProfile)
{
    writeBytes("Anna.xml", "a\r\n");
    writeBytes("Bob.xml", "b\r\n");
    DeleteProfile(ProfilePath(dir.path(), "ANNA"));
    EXPECT_EQ(entries(), (QStringList{"Bob.xml", "backups"}));
}

TEST_F(SaveFilesTest, DeletingAMissingProfileIsAnErrorNamingIt)
{
    const QString message = hostErrorOf([&] { DeleteProfile(path("Nobody.xml")); });
    EXPECT_TRUE(message.contains("No profile file")) << message.toStdString();
    EXPECT_TRUE(message.contains(path("Nobody.xml"))) << message.toStdString();
}

TEST_F(SaveFilesTest, DeleteRefusesFoldersAndReadOnlyFiles)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("x.xml"));
    writeBytes("Anna.xml", "precious\r\n");
    setMode("Anna.xml", 0444);
    EXPECT_TRUE(hostErrorOf([&] { DeleteProfile(path("x.xml")); }).contains(path("x.xml")));
    EXPECT_TRUE(hostErrorOf([&] { DeleteProfile(path("Anna.xml")); }).contains("read-only"));
    EXPECT_EQ(entries(), (QStringList{"Anna.xml", "x.xml"}));
}

} // namespace
