#include "shell/HostPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace HostPaths {

QString ProgramFolder()
{
    // /proc/self/exe is the real executable, whatever symbolic link started it.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!exe.isEmpty())
        return QFileInfo(exe).absolutePath();
    return QCoreApplication::applicationDirPath();
}

namespace {

// A folder from the environment that is set but relative would move the saves with the
// working folder: it is not used, with a note, and the next rule decides.
bool UsableFolder(const char *name, const QString &value)
{
    if (value.isEmpty())
        return false;
    if (QDir::isAbsolutePath(value))
        return true;
    std::fprintf(stderr, "lanternfall: %s=\"%s\" is not an absolute path; the save folder is "
                         "not taken from it\n",
                 name, qPrintable(value));
    return false;
}

} // namespace

QString SaveFolder(const QString &title, const std::function<QString(const char *)> &env)
{
    const QString appData = env("APPDATA");
    if (UsableFolder("APPDATA", appData))
        return QDir::cleanPath(appData + u'/' + title);
    QString dataHome = env("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid and is ignored, as the base-directory rules say.
    if (!UsableFolder("XDG_DATA_HOME", dataHome)) {
        QString home = env("HOME");
        if (home.isEmpty())
            home = QDir::homePath();
        dataHome = QDir::cleanPath(home) + QStringLiteral("/.local/share");
    }
    return QDir::cleanPath(dataHome + u'/' + title);
}

QString MoviePath(const QString &programFolder)
{
    return programFolder + QStringLiteral("/morrow.swf");
}

QString LinkInfoPath(const QString &programFolder)
{
    return programFolder + QStringLiteral("/Survey_StrategyGuide/Survey_StrategyGuideLinkInfo.txt");
}

LinkInfo ReadLinkInfo(const QString &path)
{
    LinkInfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        info.problem = QStringLiteral("cannot read the link-info file \"%1\": %2")
                           .arg(path, file.errorString());
        return info;
    }
    QString *targets[] = {&info.exitSurveyUrl, &info.strategyGuideUrl};
    int read = 0;
    for (; read < 2 && !file.atEnd(); ++read) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        *targets[read] = QString::fromUtf8(line);
    }
    if (read < 2)
        info.problem = QStringLiteral("the link-info file \"%1\" has %2 of its 2 lines")
                           .arg(path)
                           .arg(read);
    return info;
}

} // namespace HostPaths
