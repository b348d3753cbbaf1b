// The version record, the files that repeat it, and the answers of the command line.
#include "resources/CommandLine.h"
#include "resources/VersionRecord.h"
#include "shell/SaveFolderCommands.h"
#include "shell/DisplayOptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <tuple>

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// --- The version record ------------------------------------------------------------------

TEST(VersionRecord, HoldsItsValues)
{
    using namespace VersionRecord;
    EXPECT_EQ(FileVersionNumber, (std::array<std::uint16_t, 4>{1, 3, 0, 105}));
    EXPECT_EQ(ProductVersionNumber, (std::array<std::uint16_t, 4>{1, 3, 0, 105}));
    EXPECT_EQ(FileVersion, "1.03.0105");
    EXPECT_EQ(ProductVersion, "1.03.0105");
    EXPECT_EQ(InternalName, "Lanternfall");
    EXPECT_EQ(OriginalFilename, "Lanternfall.exe");
    EXPECT_EQ(FileDescription, "Lanternfall");
    EXPECT_EQ(ProductName, "Lanternfall");
    EXPECT_EQ(CompanyName, "The Lanternfall developers");
    EXPECT_NE(LegalCopyright.find("The Lanternfall developers"), std::string_view::npos);
    EXPECT_EQ(FileFlags, 0u);
    EXPECT_EQ(FileOS, 4u);
    EXPECT_EQ(FileType, 1u);
    EXPECT_EQ(FileSubtype, 0u);
    EXPECT_EQ(Language, 0x0409);
    EXPECT_EQ(CodePage, 0x04B0);
    EXPECT_EQ(StringTable, "040904B0");
}

TEST(VersionRecord, TextsAgreeWithTheNumbersAndTheBuild)
{
    using namespace VersionRecord;
    // The text form: major, minor in two digits, revision in four.
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u.%04u", FileVersionNumber[0], FileVersionNumber[1],
                  FileVersionNumber[3]);
    EXPECT_EQ(FileVersion, text);
    // The string table is named after the language and code page.
    char table[16];
    std::snprintf(table, sizeof table, "%04X%04X", Language, CodePage);
    EXPECT_EQ(StringTable, table);
    // Qt's application version comes from the project version.
    char dotted[32];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", FileVersionNumber[0], FileVersionNumber[1],
                  FileVersionNumber[2], FileVersionNumber[3]);
    EXPECT_STREQ(LF_VERSION, dotted);
}

std::string ReadSource(const char *relative)
{
    const auto path = std::filesystem::path(__FILE__).parent_path() / "../.." / relative;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(VersionRecord, DesktopEntryAndAppStreamFileCarryTheSameVersionAndId)
{
    const std::string version(VersionRecord::ProductVersion);
    const std::string metainfo = ReadSource("resources/io.github.lanternfall.Lanternfall.metainfo.xml");
    const std::string desktop = ReadSource("resources/io.github.lanternfall.Lanternfall.desktop");
    ASSERT_FALSE(metainfo.empty());
    ASSERT_FALSE(desktop.empty());
    EXPECT_NE(metainfo.find("<release version=\"" + version + "\""), std::string::npos);
    EXPECT_NE(metainfo.find("<id>io.github.lanternfall.Lanternfall</id>"), std::string::npos);
    EXPECT_NE(metainfo.find(">io.github.lanternfall.Lanternfall.desktop</launchable>"), std::string::npos);
    EXPECT_NE(desktop.find("\nX-Lanternfall-Version=" + version + "\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nName=" + std::string(VersionRecord::ProductName) + "\n"), std::string::npos);
    // The window's class is the application name that main() sets.
    EXPECT_NE(desktop.find("\nStartupWMClass=lanternfall\n"), std::string::npos);
}

// --- The command line --------------------------------------------------------------------

struct Answer {
    std::optional<int> code;
    std::string out, err;
};

Answer Call(std::vector<std::string> args)
{
    args.insert(args.begin(), "lanternfall");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    Answer run;
    run.code = HandleCommandLine(int(args.size()), argv.data(), out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

TEST(CommandLine, WithoutArgumentsTheProgramGoesOn)
{
    const Answer run = Call({});
    EXPECT_FALSE(run.code.has_value());
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(CommandLine, VersionPrintsTheRecord)
{
    const Answer run = Call({"--version"});
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(VersionLine(), "Lanternfall 1.03.0105 (1.3.0.105)");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), VersionLine());
    for (const char *field : {"FileVersion       1.03.0105 (1.3.0.105)", "ProductVersion    1.03.0105",
                              "InternalName      Lanternfall", "OriginalFilename  Lanternfall.exe",
                              "FileDescription   Lanternfall", "ProductName       Lanternfall",
                              "CompanyName       The Lanternfall developers", "LegalCopyright    ",
                              "0x0409", "0x04B0", "040904B0", "VOS__WINDOWS32 (4)"})
        EXPECT_NE(run.out.find(field), std::string::npos) << field;
}

TEST(CommandLine, HelpListsWhatTheProgramAccepts)
{
    const Answer run = Call({"--help"});
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    for (const char *item : {"Usage: lanternfall", "--version", "--help", "LANTERNFALL_TRACE",
                             "LANTERNFALL_PAGE_LOG", "APPDATA", "XDG_DATA_HOME", "Lanternfall",
                             "--backups", "--restore FILE [TIME]", "--import DIR",
                             "--fullscreen=desktop", "lanternfall.conf", "F12"})
        EXPECT_NE(run.out.find(item), std::string::npos) << item;
    // --help wins over --version, in either order.
    EXPECT_EQ(Call({"--version", "--help"}).out, run.out);
    EXPECT_EQ(Call({"--help", "--version"}).out, run.out);
}

TEST(CommandLine, AnyOtherArgumentIsNamedAndRefused)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-platform"}, {"--Version"}, {"movie.swf"}, {"-h"}, {""},
          {"--version", "--extra"}, {"--help", "x"}, {"--fullscreen"}, {"--fullscreen="},
          {"--fullscreen=Desktop"}, {"--fullscreen=desktop", "--fullscreen=window"}}) {
        const Answer run = Call(args);
        const std::string &bad = args.back();
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_EQ(run.out, "") << "no partial answer for " << bad;
        EXPECT_NE(run.err.find("\"" + bad + "\""), std::string::npos) << run.err;
    }
}

TEST(CommandLine, SaveFolderCommandsRefuseWrongOperands)
{
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--restore"}, {"--restore", "a.xml", "t", "x"}, {"--import"},
          {"--import", "a", "b"}, {"--backups", "x"}, {"--help", "--backups"}, {"--help"}}) {
        args.insert(args.begin(), "lanternfall");
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        std::ostringstream out, err;
        const auto code = SaveFolderCommands::Handle(int(argv.size()), argv.data(), out, err);
        EXPECT_EQ(code, args.back() == "--help" ? std::nullopt : std::optional(2)) << args.back();
        EXPECT_EQ(out.str(), "");
    }
}

TEST(CommandLine, AnAnswerThatCannotBeWrittenIsAFailure)
{
    std::string arg = "--version";
    char *argv[] = {const_cast<char *>("lanternfall"), arg.data(), nullptr};
    std::ostringstream out, err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(HandleCommandLine(2, argv, out, err), 1);
    EXPECT_NE(err.str().find("cannot write"), std::string::npos);
}

TEST(CommandLine, WritesToStandardOutputAndStandardError)
{
    std::ostringstream out, err;
    auto *oldOut = std::cout.rdbuf(out.rdbuf());
    auto *oldErr = std::cerr.rdbuf(err.rdbuf());
    std::string version = "--version", bogus = "--bogus";
    char *versionArgv[] = {const_cast<char *>("lanternfall"), version.data(), nullptr};
    char *bogusArgv[] = {const_cast<char *>("lanternfall"), bogus.data(), nullptr};
    const auto versionCode = HandleCommandLine(2, versionArgv);
    const std::string versionOut = out.str();
    const auto bogusCode = HandleCommandLine(2, bogusArgv);
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    EXPECT_EQ(versionCode, 0);
    EXPECT_EQ(versionOut.rfind(VersionLine() + "\n", 0), 0u) << versionOut;
    EXPECT_EQ(bogusCode, 2);
    EXPECT_EQ(out.str(), versionOut) << "the error went to standard output";
    EXPECT_NE(err.str().find("\"--bogus\""), std::string::npos);
}

// --- How full screen is made: the command line wins over the configuration file -----------

TEST(CommandLine, FullScreenKindFromTheCommandLineElseTheConfigurationFile)
{
    using enum DisplayOptions::FullScreen;
    const std::string desktop = "[display]\nfullscreen=desktop\n", bad = "fullscreen=window";
    const std::vector<std::tuple<std::vector<std::string>, std::string, DisplayOptions::FullScreen>>
        cases = {{{}, "", Exclusive},
                 {{"--fullscreen=desktop"}, "", Desktop},
                 {{}, desktop, Desktop},
                 {{"--fullscreen=exclusive"}, desktop, Exclusive},
                 {{}, "[display]\n" + bad, Exclusive},
                 {{"--fullscreen=desktop"}, "[display]\n" + bad, Desktop}};
    for (auto [args, config, chosen] : cases) {
        QTemporaryDir home;
        QDir(home.path()).mkdir("lanternfall");
        const QString file = home.filePath("lanternfall/lanternfall.conf");
        if (QFile f(file); !config.empty() && f.open(QIODevice::WriteOnly))
            f.write(config.c_str());
        std::vector<char *> argv{const_cast<char *>("lanternfall")};
        for (std::string &a : args)
            argv.push_back(a.data());
        std::ostringstream err;
        const auto env = [&home](const char *name) {
            return name == std::string("XDG_CONFIG_HOME") ? home.path() : QString();
        };
        EXPECT_EQ(DisplayOptions::ChooseFullScreen(int(argv.size()), argv.data(), env, err), chosen)
            << config;
        // A value the file does not know is a note naming the file and the value.
        EXPECT_EQ(err.str().find(file.toStdString() + "\": [display] " + bad) != std::string::npos,
                  config.ends_with(bad) && args.empty())
            << err.str();
    }
}

} // namespace
