// Lanternfall: the host that plays the game movie and serves it.
#include "bridge/core/HostError.h"
#include "platform/DBusScreenSaverInhibit.h"
#include "platform/LinuxServices.h"
#include "platform/Watchdog.h"
#include "platform/X11DisplayModes.h"
#include "platform/X11KeySender.h"
#include "platform/X11ScreenSaver.h"
#include "platform/X11WindowSystem.h"
#include "resources/AppIcon.h"
#include "resources/CommandLine.h"
#include "shell/HostPaths.h"
#include "shell/frmMain.h"
#include "shell/player/AppScheme.h"
#include "shell/player/RufflePlayer.h"

#include <QApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
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
    // X11 (or Xwayland on a Wayland desktop): display modes, the full-screen state and
    // window placement need it. A Wayland session's own choice of Qt's Wayland platform is
    // overridden; another platform asked for by name (offscreen, say) is kept.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!qEnvironmentVariableIsEmpty("DISPLAY")
        && (platform.isEmpty() || platform.startsWith("wayland")))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    AppScheme::Register();
}

// True when OpenGL here is a software renderer (llvmpipe and the like, as on Xvfb or a
// machine without a GPU driver), or there is none.
bool SoftwareOpenGL()
{
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        return true;
    const auto *renderer =
        reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    const QByteArray name = QByteArray(renderer ? renderer : "").toLower();
    context.doneCurrent();
    return name.isEmpty() || name.contains("llvmpipe") || name.contains("softpipe") ||
           name.contains("software");
}

// With software OpenGL the web engine's GPU path only adds work: Qt Quick's own software
// renderer and Chromium without a GPU process start faster and take less memory, and V8
// compiles the player's WebAssembly lazily (measured under Xvfb: start-up 1.33 s -> 1.13 s,
// process tree 403 -> 352 MiB). With a real GPU nothing changes.
void PreferSoftwarePathWithoutGpu()
{
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") || !SoftwareOpenGL())
        return;
    qputenv("QT_QUICK_BACKEND", "software");
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    flags += " --disable-gpu --js-flags=--wasm-lazy-compilation";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

} // namespace

int main(int argc, char **argv)
{
    if (const auto exitCode = HandleCommandLine(argc, argv))
        return *exitCode;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("DISPLAY")
        && (platform.isEmpty() || platform.startsWith("wayland"))) {
        std::fprintf(stderr, "lanternfall: no X display: DISPLAY is not set. The game needs an X "
                             "server (X11, or Xwayland on a Wayland desktop).\n");
        return 1;
    }
    // The guardian that gives the desktop its display mode and screen saver back however the
    // program ends; started while the process still has one thread and no X connection.
    platform::Watchdog::Start();
    PrepareWebEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lanternfall"));
    QApplication::setApplicationVersion(QStringLiteral(LF_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.lanternfall.Lanternfall"));
    QApplication::setWindowIcon(LanternfallIcon());
    PreferSoftwarePathWithoutGpu();

    platform::FileInstanceLock instanceLock(platform::FileInstanceLock::DefaultPath());
    platform::QtUserInterface ui;
    platform::ImmediateProcess process;
    platform::X11ScreenSaver screenSaver;
    platform::DesktopUrlOpener urlOpener;
    platform::X11KeySender keySender;
    platform::DBusScreenSaverInhibit screenSaverInhibit(QStringLiteral("Lanternfall"));
    platform::X11DisplayModes displayModes;
    platform::X11WindowSystem windowSystem;
    // A run that ended without giving the desktop back (even its guardian gone) left a note;
    // the first copy repairs it before it looks at the desktop's mode.
    if (!instanceLock.AnotherCopyRuns())
        platform::Watchdog::RepairAfterUncleanEnd();

    frmMain::Context context;
    context.programFolder = HostPaths::ProgramFolder();
    context.env = [](const char *name) { return qEnvironmentVariable(name); };
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
