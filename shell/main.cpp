// Lanternfall: the host that plays the game movie and serves it.
#include "bridge/core/HostError.h"
#include "platform/LinuxServices.h"
#include "platform/X11KeySender.h"
#include "platform/X11ScreenSaver.h"
#include "shell/HostPaths.h"
#include "shell/frmMain.h"
#include "shell/player/AppScheme.h"
#include "shell/player/RufflePlayer.h"

#include <QApplication>
#include <cstdio>
#include <unistd.h>

namespace {

void PrepareWebEngine()
{
    // Chromium refuses to run its sandbox as root (CI and these machines run as root).
    if (::geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
    }
    // X11 (or XWayland on a Wayland desktop): display modes and window placement need it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    AppScheme::Register();
}

} // namespace

int main(int argc, char **argv)
{
    PrepareWebEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lanternfall"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lanternfall"));
    QApplication::setApplicationVersion(QStringLiteral(LF_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lanternfall"));

    platform::FileInstanceLock instanceLock(platform::FileInstanceLock::DefaultPath());
    platform::QtUserInterface ui;
    platform::ImmediateProcess process;
    platform::X11ScreenSaver screenSaver;
    platform::DesktopUrlOpener urlOpener;
    platform::X11KeySender keySender;

    frmMain::Context context;
    context.programFolder = HostPaths::ProgramFolder();
    context.env = [](const char *name) { return qEnvironmentVariable(name); };
    context.services.instanceLock = &instanceLock;
    context.services.ui = &ui;
    context.services.process = &process;
    context.services.screenSaver = &screenSaver;
    context.services.urlOpener = &urlOpener;
    context.services.keySender = &keySender;

    const QString ruffleDir = context.programFolder + QStringLiteral("/ruffle");
    frmMain window([&ruffleDir](QWidget *parent) { return new RufflePlayer(ruffleDir, parent); },
                   context);
    try {
        window.Form_Load();
    } catch (const HostError &error) {
        // A start-up failure is reported, then the program ends.
        std::fprintf(stderr, "lanternfall: %s\n", qPrintable(error.message()));
        ui.ShowMessage(QStringLiteral("Lanternfall"), error.message());
        return 1;
    }
    return app.exec();
}
