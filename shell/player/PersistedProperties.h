#pragma once
// The values the player control is created with, exactly as stored (all text). Whatever
// plays the movie starts from these settings; RufflePlayer maps each one it can honour
// onto Ruffle's configuration.
#include <QString>
#include <array>
#include <utility>

namespace PersistedProperties {

inline const std::array<std::pair<const char *, const char *>, 23> &Table()
{
    static const std::array<std::pair<const char *, const char *>, 23> table{{
        {"FlashVars", ""},     {"Movie", ""},          {"Src", ""},
        {"WMode", "Window"},   {"Play", "-1"},         {"Loop", "-1"},
        {"Quality", "High"},   {"SAlign", ""},         {"Menu", "0"},
        {"Base", ""},          {"AllowScriptAccess", ""}, {"Scale", "ShowAll"},
        {"DeviceFont", "0"},   {"EmbedMovie", "0"},    {"BGColor", ""},
        {"SWRemote", ""},      {"MovieData", ""},      {"SeamlessTabbing", "1"},
        {"Profile", "0"},      {"ProfileAddress", ""}, {"ProfilePort", "0"},
        {"AllowNetworking", "all"}, {"AllowFullScreen", "false"},
    }};
    return table;
}

inline QString Value(const char *name)
{
    for (const auto &[key, value] : Table())
        if (qstrcmp(key, name) == 0)
            return QString::fromLatin1(value);
    return {};
}

} // namespace PersistedProperties
