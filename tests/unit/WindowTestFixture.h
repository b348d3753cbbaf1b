#pragma once
// The whole window built with fakes: a temporary program folder (movie and link-info file),
// a temporary data folder that APPDATA points into, and every platform service faked into
// one event log. The module state (settings, focus flags, display modes) is global, so it
// is put back to its program-start values before each test.
#include "Fakes.h"

#include "display/modChangeRes.h"
#include "input/FocusControls.h"
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
        ASSERT_TRUE(program.isValid());
        ASSERT_TRUE(data.isValid());
        modChangeRes::Reset();
        GameSettings::PortraitDisplay = false;
        GameSettings::GameWidth = 800;
        GameSettings::GameHeight = 600;
        FocusControls::ReturnToFullScreen = false;
        FocusControls::AppActive = false;

        writeFile(program.filePath(QStringLiteral("morrow.swf")), "FWS\x0b");
        setLinkInfo("https://survey.example/exit\r\nwww.example.com/guide\r\n");
        env[QStringLiteral("APPDATA")] = data.filePath(QStringLiteral("AppData/Roaming"));
        env[QStringLiteral("HOME")] = data.filePath(QStringLiteral("home"));
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
    QString expectedSaveFolder() const
    {
        return env.value(QStringLiteral("APPDATA")) + QStringLiteral("/Lanternfall");
    }

    frmMain &build()
    {
        frmMain::Context context;
        context.programFolder = program.path();
        context.env = [this](const char *name) {
            log.add(QStringLiteral("env ") + QLatin1String(name));
            return env.value(QLatin1String(name));
        };
        context.services.instanceLock = &lock;
        context.services.ui = &ui;
        context.services.process = &process;
        context.services.screenSaver = &screenSaver;
        context.services.urlOpener = &urlOpener;
        context.services.displayModes = &display;
        context.services.windowSystem = &windowSystem;
        window = std::make_unique<frmMain>(
            [this](QWidget *parent) { return player = new fakes::FakePlayer(log, parent); },
            std::move(context));
        return *window;
    }

    // Builds the window and runs its start-up; the log then starts empty.
    frmMain &start()
    {
        build();
        window->Form_Load();
        log.clear();
        return *window;
    }

    uint32_t style() const { return windowSystem.styleOf(window.get()); }
    bool hasTitleBar() const
    {
        return (style() & fakes::FakeWindowSystem::Caption) == fakes::FakeWindowSystem::Caption;
    }

    QTemporaryDir program;
    QTemporaryDir data;
    QMap<QString, QString> env;

    fakes::EventLog log;
    fakes::FakeInstanceLock lock{log};
    fakes::FakeUserInterface ui{log};
    fakes::FakeProcess process{log};
    fakes::FakeScreenSaver screenSaver{log};
    fakes::FakeUrlOpener urlOpener{log};
    fakes::FakeDisplayModes display{log};
    fakes::FakeWindowSystem windowSystem{log};

    std::unique_ptr<frmMain> window;
    fakes::FakePlayer *player = nullptr; // owned by the window
};
