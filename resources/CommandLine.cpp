#include "resources/CommandLine.h"

#include "resources/VersionRecord.h"
#include "shell/SaveFolderCommands.h"
#include "shell/DisplayOptions.h"

#include <iostream>
#include <string_view>

namespace {

template <std::size_t N>
std::string Dotted(const std::array<std::uint16_t, N> &parts)
{
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        text += (i ? "." : "") + std::to_string(parts[i]);
    return text;
}

std::string Hex4(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

void PrintVersion(std::ostream &out)
{
    using namespace VersionRecord;
    out << VersionLine() << '\n'
        << '\n'
        << "FileVersion       " << FileVersion << " (" << Dotted(FileVersionNumber) << ")\n"
        << "ProductVersion    " << ProductVersion << " (" << Dotted(ProductVersionNumber) << ")\n"
        << "InternalName      " << InternalName << '\n'
        << "OriginalFilename  " << OriginalFilename << '\n'
        << "FileDescription   " << FileDescription << '\n'
        << "ProductName       " << ProductName << '\n'
        << "CompanyName       " << CompanyName << '\n'
        << "LegalCopyright    " << LegalCopyright << '\n'
        << "Language          " << Hex4(Language) << " (English, United States), code page "
        << Hex4(CodePage) << " (Unicode), string table " << StringTable << '\n'
        << "File type         application (" << FileType << "), subtype " << FileSubtype
        << ", flags none (" << FileFlags << "), OS VOS__WINDOWS32 (" << FileOS << ")\n";
}

// Full screen on the desktop's own mode, and the keys of the game's window.
constexpr const char *DisplayHelp =
    "Full screen:\n"
    "  --fullscreen=exclusive  switch the monitor to 800x600 (the default)\n"
    "  --fullscreen=desktop    keep the monitor's own mode: the game is drawn at its\n"
    "                          resolution, scaled to fit, with black bars\n"
    "  The same as \"fullscreen=desktop\" in the [display] group of\n"
    "  $XDG_CONFIG_HOME/lanternfall/lanternfall.conf (default ~/.config/lanternfall/);\n"
    "  the command line wins.\n"
    "\n"
    "Keys:\n"
    "  Ctrl+Enter  full screen or a window\n"
    "  F12         save the game's picture at 800x600 as a PNG file in the pictures\n"
    "              folder (~/Pictures/Lanternfall/); its name is printed on standard error\n"
    "\n";

void PrintHelp(std::ostream &out)
{
    out << "Usage: lanternfall [--fullscreen=desktop|exclusive] [--version | --help]\n"
           "       lanternfall --backups | --restore FILE [TIME] | --import DIR\n"
           "\n"
           "Plays the game movie morrow.swf from the program folder (the folder of the real\n"
           "executable, symbolic links resolved) in its own window. Without arguments the game\n"
           "starts; only one copy runs at a time.\n"
           "\n"
           "Options:\n"
           "  --version  print the version record and exit\n"
           "  --help     print this text and exit\n"
           "Any other argument is refused (exit status 2).\n"
           "\n"
        << SaveFolderCommands::HelpText
        << "\n"
        << DisplayHelp
        << "Environment:\n"
           "  LANTERNFALL_TRACE=FILE   append one JSON line per command from the movie and per\n"
           "                           call into the movie to FILE\n"
           "  LANTERNFALL_PAGE_LOG=1   print the player page's console to standard error\n"
           "  APPDATA                  when set, the save data is kept in $APPDATA/Lanternfall\n"
           "  XDG_DATA_HOME            otherwise in $XDG_DATA_HOME/Lanternfall\n"
           "                           (default ~/.local/share/Lanternfall)\n";
}

// Flushes the answer; a failed write (a closed pipe, a full disk) is an error, not a success.
int Finish(std::ostream &out, std::ostream &err)
{
    out.flush();
    if (out)
        return 0;
    err << "lanternfall: cannot write the answer to standard output\n";
    return 1;
}

} // namespace

std::string VersionLine()
{
    return std::string(VersionRecord::ProductName) + ' ' + std::string(VersionRecord::ProductVersion) +
           " (" + Dotted(VersionRecord::ProductVersionNumber) + ')';
}

std::optional<int> HandleCommandLine(int argc, char **argv, std::ostream &out, std::ostream &err)
{
    bool version = false, help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--version") {
            version = true;
        } else if (arg == "--help") {
            help = true;
        } else if (DisplayOptions::IsFullScreenArgument(arg)) {
            // How full screen is made: checked here, chosen by main (shell/DisplayOptions.h).
            const std::string complaint = DisplayOptions::CheckFullScreenArgument(arg);
            if (!complaint.empty()) {
                err << complaint << "Try 'lanternfall --help' for what the program accepts.\n";
                return 2;
            }
        } else {
            err << "lanternfall: unknown argument \"" << arg << "\"\n"
                << "Try 'lanternfall --help' for what the program accepts.\n";
            return 2;
        }
    }
    if (help) {
        PrintHelp(out);
        return Finish(out, err);
    }
    if (version) {
        PrintVersion(out);
        return Finish(out, err);
    }
    return std::nullopt;
}

std::optional<int> HandleCommandLine(int argc, char **argv)
{
    return HandleCommandLine(argc, argv, std::cout, std::cerr);
}
