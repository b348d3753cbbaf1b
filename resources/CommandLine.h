// The command line: Lanternfall takes --fullscreen=KIND (shell/DisplayOptions.h), and
// answers --version and --help.
// Runs before anything of Qt exists, so it writes with plain C++ streams.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

// The version as one line: "Lanternfall 1.03.0105 (1.3.0.105)".
std::string VersionLine();

// Handles the arguments. No arguments, or only good --fullscreen=KIND: returns nothing and
// the program goes on.
// --version or --help: prints the answer to out and returns 0 (1 when out cannot be written).
// Any other argument: names it on err and returns 2.
std::optional<int> HandleCommandLine(int argc, char **argv, std::ostream &out, std::ostream &err);

// The same on standard output and standard error.
std::optional<int> HandleCommandLine(int argc, char **argv);
