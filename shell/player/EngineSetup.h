#pragma once
// How the web engine that plays the movie is set up, before the QApplication exists:
// the rendering path, the engine's command-line switches and the page's scheme.
#include <QByteArray>

namespace EngineSetup {

// What the rendering path is chosen from.
struct Conditions {
    bool root = false;           // running as root: the engine's sandbox cannot run
    bool softwareOpenGL = false; // OpenGL here is a software renderer, or there is none
};

// The engine's switches (QTWEBENGINE_CHROMIUM_FLAGS): the given ones, followed by those
// these conditions call for. Switches already given are not repeated.
QByteArray ChromiumFlags(const QByteArray &given, const Conditions &conditions);

// True when the OpenGL renderer's name (GL_RENDERER) is a software renderer, or empty
// (no usable OpenGL).
bool IsSoftwareRenderer(const QByteArray &rendererName);

// Sets the process up for the engine: the platform, the rendering path (probed unless
// QT_QUICK_BACKEND is given), the switches, the application attributes and the scheme.
// Call in main() before the QApplication is created, while the process still has one
// thread (the OpenGL probe forks).
void Prepare();

// Call once the engine has started its processes (the player exists): what Prepare() set
// only for them is taken out of the environment again.
void Started();

// The rendering path Prepare() chose: true for the software path.
bool SoftwarePath();

} // namespace EngineSetup
