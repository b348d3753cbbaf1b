#pragma once
// How full screen is made, as the player chose it: by switching the game's output to the
// stage's mode (exclusive, the default), or on the desktop's own mode (desktop: the window
// covers the output and the stage is drawn at the output's resolution, scaled to fit, with
// black bars). Chosen with --fullscreen=KIND, else with "fullscreen=KIND" in the [display]
// group of $XDG_CONFIG_HOME/lanternfall/lanternfall.conf; the command line wins.
#include <QString>

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace DisplayOptions {

enum class FullScreen { Exclusive, Desktop };

// "exclusive" or "desktop"; nothing for any other text.
std::optional<FullScreen> ParseFullScreen(std::string_view kind);

// The argument is "--fullscreen" or "--fullscreen=...": this module's, good or bad.
bool IsFullScreenArgument(std::string_view arg);
// Checks one such argument: empty when it is good, else the complaint that names it.
std::string CheckFullScreenArgument(std::string_view arg);

// The configuration file: $XDG_CONFIG_HOME/lanternfall/lanternfall.conf (a relative or empty
// XDG_CONFIG_HOME counts as unset: ~/.config). `env` reads an environment variable.
QString ConfigFile(const std::function<QString(const char *)> &env);

// The kind the configuration file names; nothing when the file or the entry is missing.
// An entry that names no kind, or a file that cannot be read, is told in `problem` and
// counts as missing.
std::optional<FullScreen> FullScreenFromConfig(const QString &path, QString *problem);

// The choice for this run: the last --fullscreen=KIND of the command line (already checked
// by the command line's handling), else the configuration file's, else exclusive. A problem
// with the file is a note on `err`.
FullScreen ChooseFullScreen(int argc, char **argv,
                            const std::function<QString(const char *)> &env, std::ostream &err);

} // namespace DisplayOptions
