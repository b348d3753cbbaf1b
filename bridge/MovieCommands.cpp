#include "bridge/core/FileHandler.h"
#include "bridge/core/HostError.h"
#include "bridge/core/ProtocolTrace.h"
#include "bridge/core/SaveFiles.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"

namespace {

const QString DefaultHighScores = QStringLiteral(
    "<highscores><users><0>Mr.Morrow</0></users><times><0>360000</0></times></highscores>");

} // namespace

void frmMain::flashPlayer_FSCommand(const QString &command, const QString &args)
{
    // The top-level entry for the movie's commands: a failure ends only this command and
    // is reported; the program goes on. The trace has the command as soon as it is
    // received (so also the commands that end the program) and its outcome once done.
    const QString commandCopy = command;
    const QString argsCopy = args;
    // Once the program has decided to end (a start failure being told, a close going
    // ahead), no command runs any more: none may save or switch modes behind the message.
    if (ended_) {
        ProtocolTrace::Record(ProtocolTrace::Direction::Command, commandCopy, argsCopy,
                              QStringLiteral("not run: the program is ending"));
        Note(QStringLiteral("The movie's command \"%1\" was not run: the program is ending")
                 .arg(commandCopy));
        return;
    }
    ProtocolTrace::Record(ProtocolTrace::Direction::Command, commandCopy, argsCopy,
                          QStringLiteral("received"));
    try {
        HandleMovieCommand(commandCopy, argsCopy);
        ProtocolTrace::Record(ProtocolTrace::Direction::Command, commandCopy, argsCopy, "ok");
    } catch (const HostError &error) {
        ProtocolTrace::Record(ProtocolTrace::Direction::Command, commandCopy, argsCopy,
                              "error: " + error.message());
        Report(QStringLiteral("The movie's command \"%1\" failed: %2")
                   .arg(commandCopy, error.message()));
    }
}

void frmMain::HandleMovieCommand(const QString &command, const QString &args)
{
    const QString &save = SavePath_;
    auto profile = [&save](const QString &name) { return SaveFiles::ProfilePath(save, name); };

    if (command == u"GetPlayerList") {
        GetPlayerList();
    } else if (command == u"CreatePlayer") {
        SaveFiles::CreateEmptyFile(profile(args));
    } else if (command == u"LoadLevelData") {
        // Reads never fail: a name that cannot be a profile reads like a missing one, so the
        // movie still gets its answer.
        QString text;
        try {
            text = FileHandler::ReadWholeFile(profile(args));
        } catch (const HostError &error) {
            Note(error.message() + QStringLiteral("; LoadLevelData answers with no data"));
        }
        FlashCallFunction(QStringLiteral("LevelLoadComplete"), text);
    } else if (command == u"SaveLevelData") {
        // The name ends at the first "|" (a name never holds one); everything after it is
        // the player's data, also where the data itself holds "|".
        const qsizetype bar = args.indexOf(u'|');
        if (bar < 0)
            throw HostError(
                QStringLiteral("SaveLevelData needs a player name and data separated by \"|\", "
                               "got \"%1\"; nothing was saved")
                    .arg(args));
        SaveFiles::WriteSaveFile(profile(args.left(bar)), args.mid(bar + 1));
    } else if (command == u"DeletePlayer") {
        SaveFiles::DeleteProfile(profile(args));
    } else if (command == u"quit") {
        GoWindowMode(true);
        OpenBrowser(ExitSurveyUrl_, false);
        EndProcess();
    } else if (command == u"game_fullscrn") {
        if (args == u"true" && !fullScreen && !GameSettings::PortraitDisplay)
            GoFullScreen();
        else if (args == u"false" && fullScreen)
            GoWindowMode(false);
    } else if (command == u"DebugData") {
        // Nothing at all.
    } else if (command == u"ReadHighScores") {
        QString text = FileHandler::ReadWholeFile(save + QStringLiteral("/hs.dat"));
        if (text.size() < 10)
            text = DefaultHighScores;
        FlashCallFunction(QStringLiteral("HSReadComplete"), text);
    } else if (command == u"SaveHighScores") {
        SaveFiles::WriteSaveFile(save + QStringLiteral("/hs.dat"), args);
    } else if (command == u"ShowSurvey") {
        // The desktop's mode comes back before the end, as on "quit" (the guardian would
        // only do it once the process is gone).
        GoWindowMode(true);
        OpenBrowser(ExitSurveyUrl_, false);
        EndProcess();
    } else if (command == u"SurveyLinkClick") {
        OpenBrowser(ExitSurveyUrl_, true);
    } else if (command == u"StrategyGuideClick") {
        OpenBrowserForStrategy(StrategyGuideUrl_);
    } else if (command == u"ReadConfigData") {
        QString text = FileHandler::ReadWholeFile(save + QStringLiteral("/config.dat"));
        if (text.size() < 5)
            text = QStringLiteral("testdata");
        FlashCallFunction(QStringLiteral("ConfigDataReadComplete"), text);
    } else if (command == u"WriteConfigData") {
        SaveFiles::WriteSaveFile(save + QStringLiteral("/config.dat"), args);
    }
    // Any other command is ignored: nothing is read, written or answered.
}

void frmMain::GetPlayerList()
{
    // The write times come with the listing, one per name: the same values
    // FileHandler::GetFileWriteTime gives for SavePath_ + "/" + name, without a second stat.
    QList<quint64> times;
    QStringList list = FileHandler::ListFiles(SavePath_ + QStringLiteral("/*.xml"), &times);
    // The list joined is empty exactly when it holds nothing but one empty name.
    const bool nothingListed = list.isEmpty() || (list.size() == 1 && list[0].isEmpty());
    if (!nothingListed) {
        // The newest file moves to the front by a swap; on equal times the earlier keeps it.
        // A time that cannot be read is zero.
        quint64 bestTime = 0;
        qsizetype bestIndex = 0;
        for (qsizetype i = 0; i < list.size(); ++i) {
            const quint64 time = times[i];
            if (time > bestTime) {
                bestTime = time;
                bestIndex = i;
            }
        }
        if (bestIndex != 0)
            list.swapItemsAt(0, bestIndex);
        for (QString &name : list)
            name = SaveFiles::ListedName(name);
    }
    FlashCallFunction(QStringLiteral("PlayerLoadComplete"), list.join(u','));
}
