// The backups of the save files: what a write keeps, what retention removes, and that a
// backup that cannot be made stops the write; restoring a version and importing another
// save folder.
#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"
#include "bridge/core/SaveBackups.h"
#include "bridge/core/SaveFiles.h"
#include "bridge/core/SaveTransfer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

using namespace SaveBackups;

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Sets the file's last-write time, so that versions get known times.
void setWriteTime(const QString &path, const QDateTime &time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    const timespec times[2] = {{ms / 1000, (ms % 1000) * 1000000}, {ms / 1000, (ms % 1000) * 1000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

TEST(SaveBackups, VersionNamesRoundTripAndOtherNamesAreNoVersions)
{
    const QDateTime time(QDate(2026, 12, 10), QTime(19, 15, 3, 412), QTimeZone::utc());
    EXPECT_EQ(VersionName("Anna.v2.xml", time, 1), "Anna.v2.xml.20261210T191503.412Z");
    const auto parsed = ParseVersionName(VersionName("Anna.v2.xml", time, 37));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(std::tuple(parsed->file, parsed->time, parsed->sequence),
              std::tuple(QString("Anna.v2.xml"), time, 37));
    for (const char *name : {"Anna.xml", ".lanternfall-save-k3x9.tmp", "hs.dat.20261310T191503.412Z",
                             "hs.dat.20261210T191503Z", "hs.dat.20261210T191503.412Z-1",
                             ".20261210T191503.412Z"})
        EXPECT_FALSE(ParseVersionName(name)) << name;
}

TEST(SaveBackups, RetentionKeepsTheNewestTenAndTheNewestOfEachOfTheLastSevenDays)
{
    const QDateTime now(QDate(2026, 12, 10), QTime(12, 0));
    struct Case {
        const char *what;
        QList<int> minutesAgo; // one version each
        QList<int> removed;    // the minutesAgo of the versions retention removes
    };
    const int day = 24 * 60;
    const QList<Case> cases = {
        {"ten or fewer stay", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}},
        {"the oldest of one day go", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {11, 12}},
        {"one a day for 15 days: the newest ten", {0, day, 2 * day, 3 * day, 4 * day, 5 * day,
          6 * day, 7 * day, 8 * day, 9 * day, 10 * day, 11 * day, 12 * day, 13 * day, 14 * day},
         {10 * day, 11 * day, 12 * day, 13 * day, 14 * day}},
        {"busy today, the last week's days keep their newest",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, day, day + 1, 6 * day, 7 * day, 9 * day},
         {11, day + 1, 7 * day, 9 * day}},
    };
    for (const Case &c : cases) {
        QList<Version> versions;
        for (int ago : c.minutesAgo)
            versions.append(Version{"Anna.xml", now.addSecs(-60 * ago).toUTC(), 1, 0, {}});
        QList<int> removed;
        for (const Version &v : Unkept(versions, now))
            removed.append(int(v.time.secsTo(now) / 60));
        std::sort(removed.begin(), removed.end());
        EXPECT_EQ(removed, c.removed) << c.what;
    }
}

class SaveBackupsFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(SaveBackupsFolder, EveryReplacedOrDeletedContentIsKeptOnceAndNeverListedAsAPlayer)
{
    const QDateTime t1 = QDateTime::currentDateTimeUtc().addSecs(-300);
    SaveFiles::CreateEmptyFile(path("Anna.xml"));
    SaveFiles::WriteSaveFile(path("Anna.xml"), "one");  // replaces an empty file: nothing kept
    setWriteTime(path("Anna.xml"), t1);
    SaveFiles::WriteSaveFile(path("Anna.xml"), "two");  // keeps "one"
    SaveFiles::WriteSaveFile(path("Anna.xml"), "two");  // unchanged: nothing kept
    setWriteTime(path("Anna.xml"), t1);                 // the same millisecond as "one"
    SaveFiles::CreateEmptyFile(SaveFiles::ProfilePath(dir.path(), "ANNA")); // keeps "two"
    SaveFiles::WriteSaveFile(path("hs.dat"), "scores");
    SaveFiles::DeleteProfile(path("Anna.xml"));         // empty: nothing kept
    const QDateTime t2 = QDateTime::currentDateTimeUtc().addSecs(-60);
    setWriteTime(path("hs.dat"), t2);
    SaveFiles::DeleteProfile(path("hs.dat"));           // keeps "scores"
    const QDateTime ms1 = QDateTime::fromMSecsSinceEpoch(t1.toMSecsSinceEpoch(), QTimeZone::utc());
    const QDateTime ms2 = QDateTime::fromMSecsSinceEpoch(t2.toMSecsSinceEpoch(), QTimeZone::utc());
    using Row = std::tuple<QString, QDateTime, qint64, QByteArray>;
    QList<Row> rows;
    for (const Version &v : List(dir.path()))
        rows.append({v.file, v.time, v.size, bytesOf(v.path)});
    EXPECT_EQ(rows, (QList<Row>{{"Anna.xml", ms1, 5, "two\r\n"}, {"Anna.xml", ms1, 5, "one\r\n"},
                                {"hs.dat", ms2, 8, "scores\r\n"}}));
    EXPECT_EQ(List(dir.path())[0].sequence, 2);
    EXPECT_EQ(FileHandler::ListFiles(dir.path() + "/*"), QStringList{""});
}

TEST_F(SaveBackupsFolder, ABackupThatCannotBeMadeStopsTheWriteAndTheDeletion)
{
    SaveFiles::WriteSaveFile(path("Anna.xml"), "precious");
    QFile blocker(path("backups")); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (auto change : {+[](const QString &p) { SaveFiles::WriteSaveFile(p, "new"); },
                        +[](const QString &p) { SaveFiles::CreateEmptyFile(p); },
                        +[](const QString &p) { SaveFiles::DeleteProfile(p); }}) {
        try {
            change(path("Anna.xml"));
            ADD_FAILURE() << "the change went ahead without a backup";
        } catch (const HostError &error) {
            EXPECT_TRUE(error.message().contains(path("Anna.xml"))) << error.message().toStdString();
            EXPECT_TRUE(error.message().contains("backups")) << error.message().toStdString();
        }
        EXPECT_EQ(bytesOf(path("Anna.xml")), QByteArray("precious\r\n"));
    }
}

TEST_F(SaveBackupsFolder, AFileOnAnotherFileSystemIsCopied)
{
    // A profile linked to a file on another file system cannot be hard-linked: copied.
    QTemporaryDir other(QStringLiteral("/dev/shm/lf-backup-XXXXXX"));
    struct stat a {}, b {};
    if (!other.isValid() || stat(QFile::encodeName(dir.path()).constData(), &a) != 0 ||
        stat(QFile::encodeName(other.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system here";
    SaveFiles::WriteSaveFile(other.filePath("anna"), "old");
    chmod(QFile::encodeName(other.filePath("anna")).constData(), 0600);
    ASSERT_TRUE(QFile::link(other.filePath("anna"), path("Anna.xml")));
    SaveFiles::WriteSaveFile(path("Anna.xml"), "new");
    const QList<Version> versions = List(dir.path());
    ASSERT_EQ(versions.size(), 1);
    EXPECT_EQ(bytesOf(versions[0].path), QByteArray("old\r\n"));
    EXPECT_EQ(QFile::permissions(versions[0].path), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(bytesOf(other.filePath("anna")), QByteArray("new\r\n"));
}

TEST(SaveTransfer, ImportCopiesSaveFilesAndKeepsOneProfilePerName)
{
    struct Case {
        QStringList names, existing;
        QStringList copies;  // "source>target"
        int skipped, others;
    };
    const QList<Case> cases = {
        {{"Anna.xml", "hs.dat", "config.dat", "notes.txt", "hs.dat.bak"}, {},
         {"Anna.xml>Anna.xml", "config.dat>config.dat", "hs.dat>hs.dat"}, 0, 2},
        {{"anna.XML", "Bob.xml"}, {"ANNA.xml", "zoe.xml"}, {"anna.XML>ANNA.xml", "Bob.xml>Bob.xml"}, 0, 0},
        {{"Straße.xml"}, {"STRASSE.xml"}, {"Straße.xml>STRASSE.xml"}, 0, 0},
        {{"hs.dat", "HS.DAT", "Config.Dat"}, {}, {"Config.Dat>config.dat", "HS.DAT>hs.dat"}, 1, 0},
        {{"anna.xml", "Anna.xml", "ANNA.xml"}, {}, {"ANNA.xml>ANNA.xml"}, 2, 0},
        {{"a\\b.xml", ".xml"}, {}, {".xml>.xml"}, 1, 0},
    };
    for (const Case &c : cases) {
        const SaveTransfer::ImportPlan plan = SaveTransfer::PlanImport(c.names, c.existing);
        QStringList copies;
        for (const SaveTransfer::Copy &copy : plan.copies)
            copies.append(c.names[copy.source] + '>' + copy.target);
        EXPECT_EQ(copies, c.copies) << c.names.join(' ').toStdString();
        EXPECT_EQ(plan.skipped.size(), c.skipped) << plan.skipped.join("; ").toStdString();
        EXPECT_EQ(plan.others, c.others) << c.names.join(' ').toStdString();
    }
}

TEST_F(SaveBackupsFolder, ImportCopiesBytesAndKeepsWhatItReplaces)
{
    ASSERT_TRUE(QDir(dir.path()).mkpath("save") && QDir(dir.path()).mkpath("old/sub.xml"));
    const QString save = path("save");
    SaveFiles::WriteSaveFile(save + "/ANNA.xml", "mine");
    const QByteArray windows = "<p>Jos\xe9</p>\r\n"; // the Windows code page, not UTF-8
    for (const auto &[name, bytes] : {std::pair<QByteArray, QByteArray>{"anna.xml", windows},
                                      {"Jos\xe9.xml", "x"}, {"notes.txt", "n"}}) {
        FILE *file = fopen(QFile::encodeName(path("old")) + '/' + name, "wb"); // raw names
        ASSERT_TRUE(file && fwrite(bytes.data(), 1, size_t(bytes.size()), file) == size_t(bytes.size()));
        fclose(file);
    }
    const SaveTransfer::Report report = SaveTransfer::Import(save, path("old"));
    EXPECT_EQ(report.problems, QStringList{});
    EXPECT_EQ(bytesOf(save + "/ANNA.xml"), windows);
    EXPECT_EQ(bytesOf(save + QString::fromUtf8("/José.xml")), QByteArray("x"));
    EXPECT_EQ(FileHandler::ListFiles(save + "/*"), (QStringList{"ANNA.xml", QString::fromUtf8("José.xml")}));
    ASSERT_EQ(List(save).size(), 1);
    EXPECT_EQ(bytesOf(List(save)[0].path), QByteArray("mine\r\n"));
    // Again: nothing changes, nothing more is kept.
    SaveTransfer::Import(save, path("old"));
    EXPECT_EQ(List(save).size(), 1);

    for (const QString &bad : {path("missing"), path("old/notes.txt"), path("old/sub.xml"), save}) {
        try {
            SaveTransfer::Import(save, bad);
            ADD_FAILURE() << "imported from " << bad.toStdString();
        } catch (const HostError &error) {
            EXPECT_TRUE(error.message().contains(bad)) << error.message().toStdString();
        }
    }
}

TEST_F(SaveBackupsFolder, TwelveSavesKeepTenVersionsAndRestorePutsBackTheChosenOne)
{
    const QDateTime noon(QDate::currentDate().addDays(-1), QTime(12, 0));
    for (int n = 1; n <= 12; ++n) {
        SaveFiles::WriteSaveFile(path("anna.xml"), QString::number(n));
        setWriteTime(path("anna.xml"), noon.addSecs(60 * n));
    }
    SaveFiles::WriteSaveFile(path("anna.xml"), "13"); // versions "3" to "12" are kept
    ASSERT_EQ(List(dir.path()).size(), 10);
    EXPECT_EQ(bytesOf(List(dir.path()).last().path), QByteArray("3\r\n"));
    const QString minuteOf4 = ListedTime(noon.addSecs(240)).left(16);
    SaveTransfer::Restore(dir.path(), "ANNA.XML", minuteOf4);
    EXPECT_EQ(bytesOf(path("anna.xml")), QByteArray("4\r\n"));
    SaveTransfer::Restore(dir.path(), "Anna.xml", QString()); // the newest: "13", kept just now
    EXPECT_EQ(bytesOf(path("anna.xml")), QByteArray("13\r\n"));
    EXPECT_EQ(FileHandler::ListFiles(dir.path() + "/*.xml"), QStringList{"anna.xml"});

    const auto failure = [this](const QString &file, const QString &time) {
        try {
            SaveTransfer::Restore(dir.path(), file, time);
        } catch (const HostError &error) {
            return error.message();
        }
        return QStringLiteral("restored");
    };
    EXPECT_TRUE(failure("hs.dat", "").contains("No backup of \"hs.dat\""));
    EXPECT_TRUE(failure("anna.xml", "2026-12-1").contains("2026-12-1"));
    EXPECT_TRUE(failure("../anna.xml", "").contains("no save file's name"));
    EXPECT_TRUE(failure("anna.txt", "").contains("no save file's name"));
    EXPECT_EQ(bytesOf(path("anna.xml")), QByteArray("13\r\n"));
}

} // namespace
