// libFuzzer target: the movie's commands as the window handles them, with the player and
// the platform faked and a real save folder in a private temporary tree.
//
// An input is text (UTF-8; or UTF-16LE after a first byte 0xFE). NUL NUL separates up to
// 16 commands; in each, the first NUL separates the command name from its argument.
// Every input runs in a fresh window over the same save folder contents. After each input
// the tree around the save folder must be exactly as before: any file created, removed or
// changed outside the save folder aborts the run (a finding), as do crashes, sanitizer
// reports and hangs (libFuzzer's -timeout).
#include "Fakes.h"

#include "display/modChangeRes.h"
#include "input/FocusControls.h"
#include "input/RightClickModule2.h"
#include "shell/GameSettings.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path Root;       // the private tree: everything a command could reach by accident
fs::path SaveFolder; // Root/appdata/Lanternfall, emptied and re-seeded after each input

// Every entry of the tree outside the save folder, with what would show a change.
using Snapshot = std::map<std::string, std::string>;
Snapshot Baseline;

Snapshot Take()
{
    Snapshot snap;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(Root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->path() == SaveFolder) {
            it.disable_recursion_pending();
            snap[it->path()] = it->is_directory() ? "save folder" : "save folder replaced";
            continue;
        }
        const auto status = it->symlink_status();
        std::string what = std::to_string(int(status.type()));
        if (status.type() == fs::file_type::regular)
            what += " " + std::to_string(it->file_size()) + " " +
                    std::to_string(fs::last_write_time(it->path()).time_since_epoch().count());
        snap[it->path()] = what;
    }
    if (ec)
        snap["<walk failed>"] = ec.message();
    return snap;
}

void WriteFile(const fs::path &path, const QByteArray &bytes)
{
    QDir().mkpath(QString::fromStdString(path.parent_path()));
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// The save folder as every input finds it: a profile, high scores, settings, and a folder
// that a name could climb out through ("a/../../x").
void SeedSaveFolder()
{
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(SaveFolder, ec))
        fs::remove_all(entry.path(), ec);
    fs::create_directory(SaveFolder / "a");
    WriteFile(SaveFolder / "Anna.xml", "<level>3</level>\r\n");
    WriteFile(SaveFolder / "hs.dat", "<highscores></highscores>\r\n");
    WriteFile(SaveFolder / "config.dat", "volume=5\r\n");
}

void RemoveRoot()
{
    std::error_code ec;
    fs::remove_all(Root, ec);
}

QString Decode(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0xFE) {
        QString text((size - 1) / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(data[1 + 2 * i] | data[2 + 2 * i] << 8));
        return text;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

void RunCommands(const QString &input)
{
    fakes::EventLog log;
    fakes::FakeServices fake(log);

    fakes::ResetModuleState();

    const QString root = QString::fromStdString(Root);
    frmMain::Context context;
    context.programFolder = root + "/program";
    context.env = [root](const char *name) {
        const QLatin1String var(name);
        return var == "APPDATA" ? root + "/appdata" : var == "HOME" ? root + "/home" : QString();
    };
    context.services = fake.services();
    fakes::FakePlayer *player = nullptr;
    {
        frmMain window([&](QWidget *parent) { return player = new fakes::FakePlayer(log, parent); },
                       std::move(context));
        window.Form_Load();
        if (window.SavePath() != QString::fromStdString(SaveFolder))
            std::abort();
        int count = 0;
        for (const QString &record : input.split(QStringLiteral(u"\0\0"))) {
            if (++count > 16)
                break;
            const qsizetype nul = record.indexOf(QChar(u'\0'));
            emit player->FSCommand(record.left(nul), nul < 0 ? QString() : record.mid(nul + 1));
        }
        QCoreApplication::processEvents();
    }
    modChangeRes::SetServices(nullptr, nullptr, nullptr);
    GameSettings::MainHwnd = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/lanternfall-fuzz-XXXXXX";
    if (!mkdtemp(base.data()))
        std::abort();
    Root = fs::canonical(base);
    std::atexit(RemoveRoot);
    SaveFolder = Root / "appdata" / "Lanternfall";
    fs::create_directories(SaveFolder);
    fs::create_directories(Root / "home");
    fs::create_directories(Root / "cwd");
    fs::create_directories(Root / "runtime");
    fs::permissions(Root / "runtime", fs::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(QString::fromStdString(Root / "runtime")));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("LANTERNFALL_TRACE");
    new QApplication(*argc, *argv); // lives as long as the process
    WriteFile(Root / "program" / "morrow.swf", "FWS\x0b");
    WriteFile(Root / "program" / "Survey_StrategyGuide" / "Survey_StrategyGuideLinkInfo.txt",
              "https://survey.example/exit\r\nwww.example.com/guide\r\n");
    // Decoys beside and above the save folder, which a name that escapes would hit.
    WriteFile(Root / "appdata" / "Anna.xml", "outside\r\n");
    WriteFile(Root / "appdata" / "hs.dat", "outside\r\n");
    WriteFile(Root / "Anna.xml", "outside\r\n");
    // Relative paths would land here.
    if (chdir((Root / "cwd").c_str()) != 0)
        std::abort();
    SeedSaveFolder();
    Baseline = Take();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RunCommands(Decode(data, size));
    const Snapshot now = Take();
    if (now != Baseline) {
        for (const auto &[path, what] : now)
            if (Baseline.count(path) == 0 || Baseline.at(path) != what)
                std::fprintf(stderr, "outside the save folder, new or changed: %s (%s)\n",
                             path.c_str(), what.c_str());
        for (const auto &[path, what] : Baseline)
            if (now.count(path) == 0)
                std::fprintf(stderr, "outside the save folder, gone: %s\n", path.c_str());
        std::abort();
    }
    SeedSaveFolder();
    return 0;
}
