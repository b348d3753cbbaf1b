// The web engine's switches and the choice of the rendering path.
#include "platform/x11/OpenGLProbe.h"
#include "shell/player/EngineSetup.h"

#include <QList>
#include <gtest/gtest.h>

namespace {

QList<QByteArray> Split(const QByteArray &flags)
{
    return flags.split(' ');
}

TEST(EngineSetup, SwitchesFollowTheRenderingPathAndKeepTheUsersOwn)
{
    EngineSetup::Conditions software{true, true};
    const auto flags = Split(EngineSetup::ChromiumFlags("--force-dark-mode", software));
    EXPECT_EQ(flags.first(), "--force-dark-mode");
    for (const char *expected : {"--no-sandbox", "--disable-gpu", "--js-flags=--wasm-lazy-compilation",
                                 "--disable-features=AudioServiceOutOfProcess"})
        EXPECT_TRUE(flags.contains(expected)) << expected;

    // A real GPU keeps the engine's own path: no switch about the GPU or V8, no sandbox change
    // for a normal user.
    EngineSetup::Conditions gpu{false, false};
    EXPECT_EQ(EngineSetup::ChromiumFlags("", gpu), "--disable-features=AudioServiceOutOfProcess");

    // The engine reads only one value per switch: the user's own are never overridden.
    const auto own = Split(EngineSetup::ChromiumFlags(
        " --js-flags=--expose-gc  --disable-features=Foo --no-sandbox ", software));
    EXPECT_EQ(own.count("--no-sandbox"), 1);
    EXPECT_TRUE(own.contains("--js-flags=--expose-gc"));
    EXPECT_TRUE(own.contains("--disable-features=Foo"));
    for (const QByteArray &flag : own)
        EXPECT_FALSE(flag.isEmpty() || flag == "--js-flags=--wasm-lazy-compilation" ||
                     flag == "--disable-features=AudioServiceOutOfProcess")
            << flag.constData();
}

TEST(EngineSetup, SoftwareRenderersAreRecognised)
{
    EXPECT_TRUE(EngineSetup::IsSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_TRUE(EngineSetup::IsSoftwareRenderer("Software Rasterizer"));
    EXPECT_TRUE(EngineSetup::IsSoftwareRenderer(""));
    EXPECT_FALSE(EngineSetup::IsSoftwareRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
    EXPECT_FALSE(EngineSetup::IsSoftwareRenderer("NVIDIA GeForce GTX 1060/PCIe/SSE2"));
}

TEST(EngineSetup, NoDisplayMeansNoUsableOpenGLAtOnce)
{
    // The probe's child cannot open the display: an answer (empty), not a wait.
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":65000");
    const std::optional<QByteArray> renderer = platform::OpenGLProbe::RendererName(20000);
    if (display.isNull())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
    ASSERT_TRUE(renderer.has_value());
    EXPECT_TRUE(renderer->isEmpty());
}

} // namespace
