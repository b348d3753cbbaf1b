#pragma once
// Screenshots of the game: PNG files in the pictures folder's "Lanternfall" folder, named
// after the local time they were taken, never over an existing file.
#include <QDateTime>
#include <QImage>
#include <QString>

namespace Screenshot {

// "Lanternfall-YYYY-MM-DD-HHMMSS.png" for that time; with `number` above 1,
// "Lanternfall-YYYY-MM-DD-HHMMSS-N.png" (the Nth picture taken in that second).
QString FileName(const QDateTime &when, int number = 1);

// Writes the image as a PNG file in `folder` (created with every missing folder above it)
// under the name for `when`, or, where a file of that name exists, the first free numbered
// name; returns the file's path. Throws HostError naming the folder or file and the reason.
QString Save(const QImage &image, const QString &folder, const QDateTime &when);

} // namespace Screenshot
