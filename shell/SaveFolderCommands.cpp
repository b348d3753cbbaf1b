#include "shell/SaveFolderCommands.h"

#include "bridge/core/HostError.h"
#include "bridge/core/SaveBackups.h"
#include "bridge/core/SaveTransfer.h"
#include "platform/LinuxServices.h"
#include "shell/HostPaths.h"

#include <QCoreApplication>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

namespace SaveFolderCommands {

const std::string_view HelpText =
    "Save data (these need no display; --restore and --import are refused while the game\n"
    "runs). Before a save file is replaced, emptied or deleted, its old content is kept in\n"
    "the save folder's backups/ folder: at least the 10 newest versions of each file and the\n"
    "newest of each of the last 7 days.\n"
    "  --backups              list the kept versions: file, time it was saved, size\n"
    "  --restore FILE [TIME]  put back the newest version of FILE (NAME.xml, hs.dat,\n"
    "                         config.dat), or the one listed with TIME (or the newest\n"
    "                         within a shorter TIME such as 2026-12-10T20:15)\n"
    "  --import DIR           copy the save files of another save folder DIR (NAME.xml,\n"
    "                         hs.dat, config.dat) byte for byte; nothing else in DIR\n";

namespace {

QString saveFolder()
{
    return HostPaths::SaveFolder(QStringLiteral("Lanternfall"),
                                 [](const char *name) { return qEnvironmentVariable(name); });
}

void printLines(std::ostream &stream, const QStringList &lines, const char *prefix)
{
    for (const QString &line : lines)
        stream << prefix << line.toStdString() << '\n';
}

int listBackups(std::ostream &out)
{
    const QString folder = saveFolder();
    const QList<SaveBackups::Version> versions = SaveBackups::List(folder);
    if (versions.isEmpty()) {
        out << "No backups are kept in " << SaveBackups::FolderOf(folder).toStdString() << '\n';
        return 0;
    }
    qsizetype width = 0;
    for (const auto &version : versions)
        width = std::max(width, version.file.size());
    for (const auto &version : versions)
        out << version.file.leftJustified(width).toStdString() << "  "
            << SaveBackups::ListedTime(version.time).toStdString() << "  " << version.size
            << " bytes\n";
    return 0;
}

// Runs a command that changes the save folder, under the single-copy lock.
template <typename Work>
int changeSaveFolder(std::ostream &out, std::ostream &err, Work work)
{
    QCoreApplication::setApplicationName(QStringLiteral("lanternfall"));
    platform::FileInstanceLock lock(platform::FileInstanceLock::DefaultPath());
    if (lock.AnotherCopyRuns()) {
        err << "lanternfall: the game is running; close it first. Nothing was changed.\n";
        return 1;
    }
    try {
        const SaveTransfer::Report report = work(saveFolder());
        printLines(out, report.done, "");
        printLines(err, report.notes, "lanternfall: note: ");
        printLines(err, report.problems, "lanternfall: ");
        return report.problems.isEmpty() ? 0 : 1;
    } catch (const HostError &error) {
        err << "lanternfall: " << error.message().toStdString() << '\n';
        return 1;
    }
}

int usage(std::ostream &err, const std::string &problem)
{
    err << "lanternfall: " << problem << '\n'
        << "Try 'lanternfall --help' for what the program accepts.\n";
    return 2;
}

} // namespace

std::optional<int> Handle(int argc, char **argv, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    const auto isCommand = [](const std::string &a) {
        return a == "--backups" || a == "--restore" || a == "--import";
    };
    const auto command = std::find_if(args.begin(), args.end(), isCommand);
    if (command == args.end())
        return std::nullopt;
    if (command != args.begin())
        return usage(err, "\"" + *command + "\" must come first and alone, with its operands");
    const std::string name = args[0];
    const std::vector<std::string> operands(args.begin() + 1, args.end());
    const auto fromLocal = [](const std::string &s) { return QString::fromLocal8Bit(s); };
    if (name == "--backups") {
        if (!operands.empty())
            return usage(err, "--backups takes no operand, got \"" + operands[0] + "\"");
        const int code = listBackups(out);
        out.flush();
        return out ? code : 1;
    }
    if (name == "--restore") {
        if (operands.empty() || operands.size() > 2)
            return usage(err, "--restore takes FILE and optionally TIME");
        const QString file = fromLocal(operands[0]);
        const QString time = operands.size() > 1 ? fromLocal(operands[1]) : QString();
        return changeSaveFolder(out, err, [&](const QString &folder) {
            return SaveTransfer::Restore(folder, file, time);
        });
    }
    if (operands.size() != 1)
        return usage(err, "--import takes one folder, DIR");
    const QString dir = fromLocal(operands[0]);
    return changeSaveFolder(out, err, [&](const QString &folder) {
        return SaveTransfer::Import(folder, dir);
    });
}

std::optional<int> Handle(int argc, char **argv)
{
    return Handle(argc, argv, std::cout, std::cerr);
}

} // namespace SaveFolderCommands
