#pragma once
// Which OpenGL renderer the X display offers, found without loading the driver into this
// process: a short-lived child process opens its own X connection, makes a GLX context
// current and reports GL_RENDERER through a pipe. A software renderer's driver (Mesa's
// llvmpipe with LLVM) would otherwise stay mapped for the whole run.
#include <QByteArray>
#include <optional>

namespace platform::OpenGLProbe {

// GL_RENDERER of the display named by DISPLAY; an empty string when there is no usable
// OpenGL there (no display, no GLX, no context); nothing when the child gave no answer
// within the time-out (it is then killed). Call before the process has other threads.
std::optional<QByteArray> RendererName(int timeoutMs = 5000);

} // namespace platform::OpenGLProbe
