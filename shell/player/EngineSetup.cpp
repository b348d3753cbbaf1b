#include "shell/player/EngineSetup.h"

#include "platform/x11/OpenGLProbe.h"
#include "shell/player/AppScheme.h"

#include <QCoreApplication>
#include <QList>
#include <unistd.h>
#include <utility>

namespace EngineSetup {

namespace {

bool softwarePath = false;
constexpr char kMallocThreshold[] = "MALLOC_MMAP_THRESHOLD_";
bool mallocThresholdSet = false;

// True when a switch of that name (the part before "=") is among the given ones.
bool HasSwitch(const QList<QByteArray> &given, const QByteArray &name)
{
    for (const QByteArray &flag : given) {
        if (flag == name || flag.startsWith(name + '='))
            return true;
    }
    return false;
}

} // namespace

QByteArray ChromiumFlags(const QByteArray &given, const Conditions &conditions)
{
    const QList<QByteArray> present = given.simplified().split(' ');
    QList<QByteArray> added;
    auto add = [&](const QByteArray &flag) {
        const qsizetype equals = flag.indexOf('=');
        if (!HasSwitch(present, equals < 0 ? flag : flag.left(equals)))
            added << flag;
    };
    // Chromium refuses to run its sandbox as root (CI and these machines run as root).
    if (conditions.root)
        add("--no-sandbox");
    // The audio service runs as a thread of this process instead of a process of its own
    // (about 15 MiB less; the page keeps its own process).
    add("--disable-features=AudioServiceOutOfProcess");
    if (conditions.softwareOpenGL) {
        // No GPU process: with a software renderer it only adds copies. V8 compiles the
        // player's WebAssembly function by function on first use (all tiers stay on).
        add("--disable-gpu");
        add("--js-flags=--wasm-lazy-compilation");
    }
    QByteArray flags = given.simplified();
    for (const QByteArray &flag : added)
        flags += (flags.isEmpty() ? "" : " ") + flag;
    return flags;
}

bool IsSoftwareRenderer(const QByteArray &rendererName)
{
    const QByteArray name = rendererName.toLower();
    return name.isEmpty() || name.contains("llvmpipe") || name.contains("softpipe") ||
           name.contains("software");
}

void Prepare()
{
    // X11 (or Xwayland on a Wayland desktop): display modes, the full-screen state and
    // window placement need it. A Wayland session's own choice of Qt's Wayland platform is
    // overridden; another platform asked for by name (offscreen, say) is kept.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!qEnvironmentVariableIsEmpty("DISPLAY")
        && (platform.isEmpty() || platform.startsWith("wayland")))
        qputenv("QT_QPA_PLATFORM", "xcb");

    Conditions conditions;
    conditions.root = ::geteuid() == 0;
    // The rendering path, unless the user chose Qt Quick's backend: with software OpenGL
    // (Xvfb, no GPU driver) Qt Quick's own software renderer and no OpenGL at all in this
    // process, which then never loads the driver (about 15 MiB with Mesa's llvmpipe).
    // With a real GPU the engine keeps its OpenGL path untouched.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") &&
        qgetenv("QT_QPA_PLATFORM") == "xcb") {
        const std::optional<QByteArray> renderer = platform::OpenGLProbe::RendererName();
        // No answer in time: the software path works everywhere.
        conditions.softwareOpenGL = !renderer || IsSoftwareRenderer(*renderer);
    }
    softwarePath = conditions.softwareOpenGL;
    if (softwarePath) {
        qputenv("QT_QUICK_BACKEND", "software");
        if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
            qputenv("QT_XCB_GL_INTEGRATION", "none");
    } else {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            ChromiumFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), conditions));
    // The engine's processes, which inherit this environment: glibc raises its thresholds
    // for mmap and for giving memory back after a large buffer is freed (up to 32 and
    // 64 MiB), and the page process then keeps tens of MiB of freed heap (the player's
    // 14 MB WebAssembly passes through several buffers at start). A fixed threshold keeps
    // the default trimming: measured about 40 MiB less in the page process, and no more
    // page faults while the movie plays.
    if (qEnvironmentVariableIsEmpty(kMallocThreshold)) {
        qputenv(kMallocThreshold, "16777216");
        mallocThresholdSet = true;
    }
    AppScheme::Register();
}

void Started()
{
    // Programs started later (the web browser for a link) keep their own defaults.
    if (std::exchange(mallocThresholdSet, false))
        qunsetenv(kMallocThreshold);
}

bool SoftwarePath()
{
    return softwarePath;
}

} // namespace EngineSetup
