#include "platform/x11/OpenGLProbe.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace platform::OpenGLProbe {

namespace {

// X errors end the probe quietly: the answer is then "no usable OpenGL".
int IgnoreXError(Display *, XErrorEvent *)
{
    return 0;
}

// In the child: the renderer's name, empty when anything is missing.
QByteArray ProbeRenderer()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return {};
    XSetErrorHandler(IgnoreXError);
    const int attributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                              None};
    int count = 0;
    GLXFBConfig *configs =
        glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
    if (!configs || count == 0)
        return {};
    GLXContext context = glXCreateNewContext(display, configs[0], GLX_RGBA_TYPE, nullptr, True);
    const int size[] = {GLX_PBUFFER_WIDTH, 1, GLX_PBUFFER_HEIGHT, 1, None};
    GLXPbuffer surface = glXCreatePbuffer(display, configs[0], size);
    if (!context || !surface || !glXMakeContextCurrent(display, surface, surface, context))
        return {};
    const auto *name = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
    return QByteArray(name ? name : "");
}

long long MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

} // namespace

std::optional<QByteArray> RendererName(int timeoutMs)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return QByteArray();
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return QByteArray();
    }
    if (child == 0) {
        // Nothing inherited stays open here but the pipe: in particular not the guardian's
        // socket, whose end of file must follow the host alone.
        const unsigned keep = unsigned(fds[1]);
        if ((keep > 3 && close_range(3, keep - 1, 0) != 0) || close_range(keep + 1, ~0U, 0) != 0) {
            for (unsigned fd = 3; fd < 1024; ++fd) {
                if (fd != keep)
                    close(int(fd));
            }
        }
        const QByteArray name = ProbeRenderer();
        // Answered with a trailing newline, so that an empty name is still an answer.
        const QByteArray answer = name + '\n';
        [[maybe_unused]] ssize_t written = write(fds[1], answer.constData(), answer.size());
        _exit(0);
    }
    close(fds[1]);
    QByteArray answer;
    bool complete = false, timedOut = false;
    const long long deadline = MonotonicMs() + timeoutMs;
    while (!complete) {
        const long long left = deadline - MonotonicMs();
        pollfd pending{fds[0], POLLIN, 0};
        const int ready = left > 0 ? poll(&pending, 1, int(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buffer[256];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the child ended without an answer: no usable OpenGL
        answer.append(buffer, got);
        complete = answer.endsWith('\n');
    }
    close(fds[0]);
    if (!complete)
        kill(child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return std::nullopt;
    return complete ? answer.chopped(1) : QByteArray();
}

} // namespace platform::OpenGLProbe
