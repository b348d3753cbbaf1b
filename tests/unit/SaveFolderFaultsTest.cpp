// The save folder turns hostile while the game runs: read-only, or gone. Every save then
// fails with a report that names the file, what was saved stays as it was, and the game
// goes on; reads answer with no data.
#include "WindowTestFixture.h"

#include <sys/mount.h>

namespace {

class SaveFolderFaults : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        save = window->SavePath();
        command("CreatePlayer", "Anna");
        command("SaveLevelData", "Anna|level one");
        command("SaveHighScores", "<highscores>old</highscores>");
        ASSERT_TRUE(ui.errors.isEmpty());
    }

    void command(const QString &name, const QString &argument = QString())
    {
        emit player->FSCommand(name, argument);
    }

    // Every save command once; each must fail on its own.
    void saveEverything()
    {
        command("SaveLevelData", "Anna|level two");
        command("CreatePlayer", "Bob");
        command("SaveHighScores", "<highscores>new</highscores>");
        command("WriteConfigData", "volume=9");
        command("DeletePlayer", "Anna");
    }

    QString save;
};

} // namespace

TEST_F(SaveFolderFaults, ReadOnlySaveFolder)
{
    // A read-only file system of its own binds over the folder (root can write through
    // mere permission bits, but not through this).
    const QByteArray folder = QFile::encodeName(save);
    if (::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{folder};
    ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                      nullptr),
              0);

    saveEverything();
    ASSERT_EQ(ui.errors.size(), 5) << ui.errors.join('\n').toStdString();
    EXPECT_TRUE(ui.errors[0].contains("Anna.xml")) << ui.errors[0].toStdString();
    EXPECT_TRUE(ui.errors[2].contains("hs.dat")) << ui.errors[2].toStdString();
    EXPECT_EQ(readFile(save + "/Anna.xml"), "level one\r\n");
    EXPECT_EQ(readFile(save + "/hs.dat"), "<highscores>old</highscores>\r\n");
    EXPECT_EQ(process.ends, 0);

    // Reading still works and answers with what was saved.
    command("LoadLevelData", "ANNA");
    EXPECT_EQ(player->requests.last(),
              InvokeRequest::Build("LevelLoadComplete", "level one\r\n"));
}

TEST_F(SaveFolderFaults, SaveFolderDeletedWhileRunning)
{
    ASSERT_TRUE(QDir(save).removeRecursively());
    saveEverything();
    ASSERT_EQ(ui.errors.size(), 5) << ui.errors.join('\n').toStdString();
    for (const QString &error : ui.errors)
        EXPECT_TRUE(error.contains(save)) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(save));
    EXPECT_EQ(process.ends, 0);

    // The player list of a missing folder is empty, and defaults answer the reads.
    command("GetPlayerList");
    EXPECT_EQ(player->requests.last(), InvokeRequest::Build("PlayerLoadComplete", ""));
    command("ReadConfigData");
    EXPECT_EQ(player->requests.last(), InvokeRequest::Build("ConfigDataReadComplete", "testdata"));
}
