// The application's icon, built from resources/lanternfall.svg into one .ico file that is
// compiled into the program.
#pragma once

#include <QIcon>
#include <QString>

// The resource path of the icon file (":/lanternfall/lanternfall.ico").
QString LanternfallIconPath();

// The icon: one image per size (16, 32, 48, 256), the best the icon file holds for each.
QIcon LanternfallIcon();
