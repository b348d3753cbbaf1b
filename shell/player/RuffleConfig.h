#pragma once
// Maps the player's persisted properties onto Ruffle's configuration object.
#include <QJsonObject>
#include <QMap>
#include <QString>

namespace RuffleConfig {

using Properties = QMap<QString, QString>;

// The persisted properties as the control is created with them.
Properties Defaults();

// Ruffle's configuration for these properties. Besides the mapped values, the movie may
// always script the page (fscommand needs it) and never shows Ruffle's splash screen or
// unmute overlay.
QJsonObject FromProperties(const Properties &properties, const QString &publicPath);

} // namespace RuffleConfig
