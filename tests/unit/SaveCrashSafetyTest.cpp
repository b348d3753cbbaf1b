// A save interrupted at any moment, by SIGKILL or by a full disk, leaves either the old
// or the new content of the file (and of its backups), never a truncated or mixed one.
#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"
#include "bridge/core/SaveBackups.h"
#include "bridge/core/SaveFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList TempLeftovers(const QString &folder)
{
    return QDir(folder).entryList({"*.tmp"}, QDir::Files | QDir::Hidden);
}

int KillCount()
{
    // LANTERNFALL_LONG_FAULT_TESTS=1 runs the long version (1,000 kills).
    return qEnvironmentVariableIntValue("LANTERNFALL_LONG_FAULT_TESTS") ? 1000 : 150;
}

} // namespace

TEST(SaveCrashSafety, KilledWhileSavingLeavesTheOldOrTheNewText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/Anna.xml";
    // Two large texts that differ everywhere, so a mix or a cut shows.
    const QString textA(1 << 20, QChar('a'));
    const QString textB(1 << 20, QChar('b'));
    const QByteArray bytesA = textA.toUtf8() + "\r\n";
    const QByteArray bytesB = textB.toUtf8() + "\r\n";
    SaveFiles::WriteSaveFile(path, textA);

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delayUs(0, 30000);
    const int kills = KillCount();
    for (int i = 0; i < kills; ++i) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int n = 0;; ++n)
                SaveFiles::WriteSaveFile(path, n % 2 ? textA : textB);
        }
        usleep(delayUs(random));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const QByteArray now = ReadBytes(path);
        ASSERT_TRUE(now == bytesA || now == bytesB)
            << "after kill " << i << " the file holds " << now.size() << " bytes";
    }
    // What the killed writers left are temporary files only, never profiles; every version
    // the backups kept is whole.
    EXPECT_EQ(FileHandler::ListFiles(dir.path() + "/*.xml"), QStringList{"Anna.xml"});
    for (const SaveBackups::Version &version : SaveBackups::List(dir.path())) {
        const QByteArray kept = ReadBytes(version.path);
        ASSERT_TRUE(kept == bytesA || kept == bytesB) << qPrintable(version.path);
    }
}

TEST(SaveCrashSafety, FullDiskFailsTheWriteAndKeepsTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A small file system of its own; needs the right to mount (root, as in CI).
    if (::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    struct Unmount {
        QString path;
        ~Unmount() { ::umount2(QFile::encodeName(path).constData(), MNT_DETACH); }
    } unmount{dir.path()};

    const QString path = dir.path() + "/hs.dat";
    SaveFiles::WriteSaveFile(path, "old scores");
    const QByteArray before = ReadBytes(path);

    try {
        SaveFiles::WriteSaveFile(path, QString(512 * 1024, QChar('x')));
        FAIL() << "a write larger than the file system succeeded";
    } catch (const HostError &error) {
        EXPECT_TRUE(error.message().contains(path)) << qPrintable(error.message());
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_TRUE(TempLeftovers(dir.path()).isEmpty());
    // Once there is room again, saving works.
    SaveFiles::WriteSaveFile(path, "new scores");
    EXPECT_EQ(ReadBytes(path), QByteArray("new scores\r\n"));
}
