// F12: the stage as the player sees it, saved at the stage's own size.
#include "shell/Screenshot.h"

#include "bridge/core/HostError.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"
#include "shell/player/MoviePlayer.h"

#include <QDir>
#include <QFile>

namespace Screenshot {

QString FileName(const QDateTime &when, int number)
{
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    return number > 1 ? QStringLiteral("Lanternfall-%1-%2.png").arg(stamp).arg(number)
                      : QStringLiteral("Lanternfall-%1.png").arg(stamp);
}

QString Save(const QImage &image, const QString &folder, const QDateTime &when)
{
    if (folder.isEmpty())
        throw HostError(QStringLiteral("there is no pictures folder"));
    if (!QDir().mkpath(folder))
        throw HostError(QStringLiteral("cannot create the folder \"%1\"").arg(folder));
    // The name is taken by creating the file (never opening one that exists), so that two
    // pictures in one second, or another program's file, are never written over.
    constexpr int MostInOneSecond = 1000;
    for (int number = 1; number <= MostInOneSecond; ++number) {
        QFile file(QDir(folder).filePath(FileName(when, number)));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (image.save(&file, "PNG") && file.flush())
                return file.fileName();
            const QString reason = file.errorString();
            file.remove();
            throw HostError(QStringLiteral("cannot write \"%1\": %2").arg(file.fileName(), reason));
        }
        if (!file.exists())
            throw HostError(QStringLiteral("cannot create \"%1\": %2")
                                .arg(file.fileName(), file.errorString()));
    }
    throw HostError(QStringLiteral("\"%1\" already holds %2 pictures of this second")
                        .arg(folder)
                        .arg(MostInOneSecond));
}

} // namespace Screenshot

void frmMain::TakeScreenshot()
{
    // The player's own picture: the stage as shown, at whatever scale the window has, made
    // the stage's size again (the bars around it are the window's, not the stage's).
    const QSize stage(GameSettings::GameWidth, GameSettings::GameHeight);
    QImage picture = flashPlayer_->grabStage();
    try {
        if (picture.isNull())
            throw HostError(QStringLiteral("the player gave no picture"));
        if (picture.size() != stage)
            picture = picture.scaled(stage, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString folder = context_.picturesFolder.isEmpty()
                                   ? QString()
                                   : QDir(context_.picturesFolder).filePath(GameSettings::GameTitle);
        Note(QStringLiteral("screenshot saved to %1")
                 .arg(Screenshot::Save(picture, folder, QDateTime::currentDateTime())));
    } catch (const HostError &error) {
        Note(QStringLiteral("the screenshot was not saved: %1").arg(error.message()));
    }
}
