#pragma once
// The whole window built with fakes: a temporary program folder (movie and link-info file),
// a temporary data folder that APPDATA points into, and every platform service faked into
// one event log. The module state (settings, focus flags, display modes, player filter) is
// global, so it is put back to its program-start values before each test.
#include "Fakes.h"

#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "input/RightClickModule2.h"
#include "shell/GameSettings.h"
#include "shell/HostPaths.h"
#include "shell/frmMain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(program.isValid() && data.isValid());
        fakes::ResetModuleState();

        writeFile(program.filePath("morrow.swf"), "FWS\x0b");
        setLinkInfo("https://survey.example/exit\r\nwww.example.com/guide\r\n");
        env["APPDATA"] = data.filePath("AppData/Roaming");
        env["HOME"] = data.filePath("home");
        display.setDesktop(1920, 1080, 32, 60);
    }

    void TearDown() override
    {
        window.reset();
        modChangeRes::SetServices(nullptr, nullptr, nullptr);
        GameSettings::MainHwnd = nullptr;
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QString linkInfoPath() const { return HostPaths::LinkInfoPath(program.path()); }
    void setLinkInfo(const QByteArray &bytes) { writeFile(linkInfoPath(), bytes); }
    QString expectedSaveFolder() const { return env.value("APPDATA") + "/Lanternfall"; }

    frmMain &build()
    {
        frmMain::Context context;
        context.programFolder = program.path();
        context.env = [this](const char *name) {
            log.add(QStringLiteral("env ") + QLatin1String(name));
            return env.value(QLatin1String(name));
        };
        context.services = fake.services();
        context.fullScreenKind = fullScreenKind;
        context.picturesFolder = data.filePath("Pictures");
        window = std::make_unique<frmMain>(
            [this](QWidget *parent) { return player = new fakes::FakePlayer(log, parent); },
            std::move(context));
        return *window;
    }

    // Builds the window and runs its start-up (on a desktop of the given mode); the log
    // then starts empty.
    frmMain &start()
    {
        build().Form_Load();
        log.clear();
        return *window;
    }
    frmMain &startOn(int w, int h, int depth = 32, int freq = 60)
    {
        display.setDesktop(w, h, depth, freq);
        return start();
    }
    // A new window in place of the one running, as a new run of the program.
    frmMain &restartOn(int w, int h)
    {
        window.reset();
        modChangeRes::Reset();
        return startOn(w, h);
    }

    uint32_t style() const { return windowSystem.styleOf(window.get()); }
    bool hasTitleBar() const
    {
        return (style() & fakes::FakeWindowSystem::Caption) == fakes::FakeWindowSystem::Caption;
    }

    QTemporaryDir program;
    QTemporaryDir data;
    QMap<QString, QString> env;
    DisplayOptions::FullScreen fullScreenKind = DisplayOptions::FullScreen::Exclusive;

    fakes::EventLog log;
    fakes::FakeServices fake{log};
    fakes::FakeInstanceLock &lock = fake.lock;
    fakes::FakeUserInterface &ui = fake.ui;
    fakes::FakeProcess &process = fake.process;
    fakes::FakeScreenSaver &screenSaver = fake.screenSaver;
    fakes::FakeUrlOpener &urlOpener = fake.urlOpener;
    fakes::FakeDisplayModes &display = fake.display;
    fakes::FakeWindowSystem &windowSystem = fake.windowSystem;
    fakes::FakeKeySender &keySender = fake.keySender;
    fakes::FakeScreenSaverInhibit &inhibit = fake.inhibit;

    std::unique_ptr<frmMain> window;
    fakes::FakePlayer *player = nullptr; // owned by the window
};
