#include "shell/DisplayOptions.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <ostream>

namespace DisplayOptions {
namespace {

constexpr std::string_view Option = "--fullscreen";
constexpr const char *Kinds = "\"desktop\" or \"exclusive\"";

} // namespace

std::optional<FullScreen> ParseFullScreen(std::string_view kind)
{
    if (kind == "exclusive")
        return FullScreen::Exclusive;
    if (kind == "desktop")
        return FullScreen::Desktop;
    return std::nullopt;
}

bool IsFullScreenArgument(std::string_view arg)
{
    return arg == Option || (arg.starts_with(Option) && arg[Option.size()] == '=');
}

std::string CheckFullScreenArgument(std::string_view arg)
{
    if (arg == Option)
        return "lanternfall: \"--fullscreen\" needs a kind: --fullscreen=desktop or "
               "--fullscreen=exclusive\n";
    if (!ParseFullScreen(arg.substr(Option.size() + 1)))
        return "lanternfall: unknown full-screen kind in \"" + std::string(arg) + "\": " + Kinds
               + "\n";
    return {};
}

QString ConfigFile(const std::function<QString(const char *)> &env)
{
    QString configHome = env("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base-directory rules say.
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome)) {
        QString home = env("HOME");
        if (home.isEmpty())
            home = QDir::homePath();
        configHome = QDir::cleanPath(home) + QStringLiteral("/.config");
    }
    return QDir::cleanPath(configHome) + QStringLiteral("/lanternfall/lanternfall.conf");
}

std::optional<FullScreen> FullScreenFromConfig(const QString &path, QString *problem)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *problem = QStringLiteral("cannot read \"%1\" (%2)")
                       .arg(path, settings.status() == QSettings::AccessError
                                      ? QStringLiteral("no access")
                                      : QStringLiteral("not in the format of a .conf file"));
        return std::nullopt;
    }
    const QVariant value = settings.value(QStringLiteral("display/fullscreen"));
    if (!value.isValid())
        return std::nullopt;
    // A value with a comma reads as a list: its text as written, for the note.
    const QString text = value.typeId() == QMetaType::QStringList
                             ? value.toStringList().join(QStringLiteral(", "))
                             : value.toString();
    const auto kind = ParseFullScreen(text.toStdString());
    if (!kind)
        *problem = QStringLiteral("\"%1\": [display] fullscreen=%2 is neither \"desktop\" nor "
                                  "\"exclusive\"")
                       .arg(path, text);
    return kind;
}

FullScreen ChooseFullScreen(int argc, char **argv,
                            const std::function<QString(const char *)> &env, std::ostream &err)
{
    std::optional<FullScreen> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (IsFullScreenArgument(arg) && CheckFullScreenArgument(arg).empty())
            chosen = ParseFullScreen(arg.substr(Option.size() + 1));
    }
    if (chosen)
        return *chosen;
    QString problem;
    chosen = FullScreenFromConfig(ConfigFile(env), &problem);
    if (!problem.isEmpty())
        err << "lanternfall: " << problem.toStdString()
            << "; full screen switches the display's mode (exclusive)\n";
    return chosen.value_or(FullScreen::Exclusive);
}

} // namespace DisplayOptions
