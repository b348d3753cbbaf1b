// Lanternfall: the host that plays the game movie and serves it.
#include "bridge/core/HostError.h"
#include "platform/dbus/DBusScreenSaverInhibit.h"
#include "platform/LinuxServices.h"
#include "platform/Watchdog.h"
#include "platform/x11/X11DisplayModes.h"
#include "platform/x11/X11KeySender.h"
#include "platform/x11/X11ScreenSaver.h"
#include "platform/x11/X11WindowSystem.h"
#include "resources/AppIcon.h"
#include "resources/CommandLine.h"
#include "shell/DisplayOptions.h"
#include "shell/HostPaths.h"
#include "shell/SaveFolderCommands.h"
#include "shell/frmMain.h"
#include "shell/player/EngineSetup.h"
#include "shell/player/RufflePlayer.h"

#include <QApplication>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <cstdio>
#include <iostream>

int main(int argc, char **argv)
{
    // The save-folder commands run without a display and end the program.
    if (const auto exitCode = SaveFolderCommands::Handle(argc, argv))
        return *exitCode;
    if (const auto exitCode = HandleCommandLine(argc, argv))
        return *exitCode;
    // The environment the program was started with: what the user's browser gets for a
    // link. What the host sets from here on is for itself and the web engine only.
    const QProcessEnvironment startEnvironment = QProcessEnvironment::systemEnvironment();
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("DISPLAY")
        && (platform.isEmpty() || platform.startsWith("wayland"))) {
        std::fprintf(stderr, "lanternfall: no X display: DISPLAY is not set. The game needs an X "
                             "server (X11, or Xwayland on a Wayland desktop).\n");
        return 1;
    }
    // One copy only. The lock is asked first, before anything that costs time (the guardian,
    // the engine's rendering probe, the engine itself), so that a second copy ends at once and
    // shows nothing; the window's start asks it again and gets the same answer.
    QCoreApplication::setApplicationName(QStringLiteral("lanternfall"));
    platform::FileInstanceLock instanceLock(platform::FileInstanceLock::DefaultPath());
    if (instanceLock.AnotherCopyRuns())
        return 0;
    // No library may start a session bus of its own that would outlive the program.
    platform::SettleSessionBusAddress();
    // How full screen is made: the command line's choice, else the configuration file's.
    const auto env = [](const char *name) { return qEnvironmentVariable(name); };
    const DisplayOptions::FullScreen fullScreenKind =
        DisplayOptions::ChooseFullScreen(argc, argv, env, std::cerr);
    // The guardian that gives the desktop its display mode and screen saver back however the
    // program ends; started while the process still has one thread and no X connection.
    platform::Watchdog::Start();
    // The web engine's rendering path and switches are fixed before the QApplication exists.
    EngineSetup::Prepare();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lanternfall"));
    QApplication::setApplicationVersion(QStringLiteral(LF_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.lanternfall.Lanternfall"));
    QApplication::setWindowIcon(LanternfallIcon());

    platform::QtUserInterface ui;
    platform::ImmediateProcess process;
    platform::X11ScreenSaver screenSaver;
    platform::DesktopUrlOpener urlOpener(startEnvironment);
    platform::X11KeySender keySender;
    platform::DBusScreenSaverInhibit screenSaverInhibit(QStringLiteral("Lanternfall"));
    platform::X11DisplayModes displayModes;
    platform::X11WindowSystem windowSystem;
    // A run that ended without giving the desktop back (even its guardian gone) left a note;
    // the one copy repairs it before it looks at the desktop's mode.
    platform::Watchdog::RepairAfterUncleanEnd();

    frmMain::Context context;
    context.programFolder = HostPaths::ProgramFolder();
    context.env = env;
    context.fullScreenKind = fullScreenKind;
    context.picturesFolder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    context.services.instanceLock = &instanceLock;
    context.services.ui = &ui;
    context.services.process = &process;
    context.services.screenSaver = &screenSaver;
    context.services.urlOpener = &urlOpener;
    context.services.keySender = &keySender;
    context.services.screenSaverInhibit = &screenSaverInhibit;
    context.services.displayModes = &displayModes;
    context.services.windowSystem = &windowSystem;

    const QString ruffleDir = context.programFolder + QStringLiteral("/ruffle");
    frmMain window([&ruffleDir](QWidget *parent) { return new RufflePlayer(ruffleDir, parent); },
                   context);
    EngineSetup::Started();
    // SIGTERM, SIGINT and SIGHUP end the program at once, like a kill; the guardian then
    // gives the desktop back. Installed after the web engine has set up its own handlers.
    platform::Watchdog::InstallSignalHandlers();
    try {
        window.Form_Load();
    } catch (const HostError &error) {
        // A start-up failure is reported, then the program ends.
        window.StartFailed(error.message());
        return 1;
    }
    return app.exec();
}
