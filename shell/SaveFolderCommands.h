#pragma once
// The save-folder commands of the command line, each of which does its work and ends the
// program without a window or a display:
//
//   lanternfall --backups                 list the kept versions of the save files
//   lanternfall --restore FILE [TIME]     put a kept version back
//   lanternfall --import DIR              copy another save folder's save files
//
// --restore and --import change the save folder, so they are refused while the game runs
// (the per-user lock of the single-copy rule), and they hold that lock while they work.
#include <iosfwd>
#include <optional>
#include <string_view>

namespace SaveFolderCommands {

// The part of --help that describes these commands.
extern const std::string_view HelpText;

// When the arguments name one of these commands, runs it and returns the exit status:
// 0 done, 1 refused or failed (the reason on err), 2 the arguments are wrong. Otherwise
// returns nothing and the program goes on.
std::optional<int> Handle(int argc, char **argv, std::ostream &out, std::ostream &err);

// The same on standard output and standard error.
std::optional<int> Handle(int argc, char **argv);

} // namespace SaveFolderCommands
