#include "shell/player/RuffleConfig.h"

#include "shell/player/PersistedProperties.h"

namespace RuffleConfig {

Properties Defaults()
{
    Properties properties;
    for (const auto &[name, value] : PersistedProperties::Table())
        properties.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return properties;
}

namespace {

bool IsTrue(const QString &value)
{
    // The control reads booleans as "true"/"false" in any case, or as a number.
    return value.compare(u"true", Qt::CaseInsensitive) == 0 || (value.toInt() != 0);
}

QString ScaleMode(const QString &scale)
{
    const QString s = scale.toLower();
    if (s == u"noborder")
        return QStringLiteral("noBorder");
    if (s == u"exactfit")
        return QStringLiteral("exactFit");
    if (s == u"noscale")
        return QStringLiteral("noScale");
    return QStringLiteral("showAll");
}

} // namespace

QJsonObject FromProperties(const Properties &p, const QString &publicPath)
{
    QJsonObject config;
    config["publicPath"] = publicPath;
    config["polyfills"] = false;
    config["autoplay"] = IsTrue(p.value("Play")) ? "on" : "off";
    config["unmuteOverlay"] = "hidden";
    config["splashScreen"] = false;
    config["contextMenu"] = IsTrue(p.value("Menu")) ? "on" : "off";
    config["showSwfDownload"] = false;
    config["scale"] = ScaleMode(p.value("Scale"));
    config["quality"] = p.value("Quality").isEmpty() ? "high" : p.value("Quality").toLower();
    config["salign"] = p.value("SAlign").toLower();
    config["wmode"] = p.value("WMode").isEmpty() ? "window" : p.value("WMode").toLower();
    config["allowFullscreen"] = IsTrue(p.value("AllowFullScreen"));
    config["allowNetworking"] = p.value("AllowNetworking").isEmpty() ? "all"
                                                                     : p.value("AllowNetworking");
    config["allowScriptAccess"] = true;
    config["openUrlMode"] = "allow";
    config["logLevel"] = "warn";
    const QString bg = p.value("BGColor");
    if (bg.isEmpty())
        config["backgroundColor"] = QJsonValue::Null; // the movie's own colour
    else
        config["backgroundColor"] = bg.startsWith('#') ? bg : "#" + bg;
    if (!p.value("Base").isEmpty())
        config["base"] = p.value("Base");
    return config;
}

} // namespace RuffleConfig
