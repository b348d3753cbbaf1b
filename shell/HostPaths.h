#pragma once
// The paths the host derives at start-up, and the link-info side file.
#include <QString>
#include <functional>

namespace HostPaths {

// The folder of the real executable, symbolic links resolved.
QString ProgramFolder();

// The save folder for this title: $APPDATA/<title> when APPDATA is an absolute path,
// otherwise $XDG_DATA_HOME/<title> when that is one (default ~/.local/share/<title>); a
// relative value is passed over with a note on stderr. Never a path at "/".
// `env` reads an environment variable (empty when unset).
QString SaveFolder(const QString &title, const std::function<QString(const char *)> &env);

QString MoviePath(const QString &programFolder);
QString LinkInfoPath(const QString &programFolder);

struct LinkInfo {
    QString exitSurveyUrl;    // first line
    QString strategyGuideUrl; // second line
    QString problem;          // why lines are missing, empty when both were read
};

// Reads the first two lines of the link-info file. A line ends at CR LF or a bare LF and
// the terminator is not part of the value; further lines are ignored. A missing file or
// missing lines give empty strings and a description of what was missing.
LinkInfo ReadLinkInfo(const QString &path);

} // namespace HostPaths
