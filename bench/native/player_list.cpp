// "GetPlayerList" over a folder of many profiles, raised through the window's command
// entry exactly as the player raises it (the fake player's FSCommand signal), with the
// real save-folder code behind it and a player that only takes the answer. Compared, in
// the same run and alternately, with find(1) listing the same folder with write times.
//
//   bench_player_list [--files N] [--reps R] [--warmup W] [--folder DIR]
//
// Prints one JSON object: the timings of both in milliseconds and what each produced, and
// the command's two file-system steps (FileHandler::ListFiles, and GetFileWriteTime for
// every listed file) timed on their own.
#include "Fakes.h"
#include "Spawn.h"

#include "bridge/core/FileHandler.h"
#include "shell/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// A player that only keeps the last request it was handed.
class AnswerOnlyPlayer : public MoviePlayer {
public:
    explicit AnswerOnlyPlayer(QWidget *parent) : MoviePlayer(parent), widget_(new QWidget(parent))
    {
    }
    QWidget *widget() override { return widget_; }
    QWidget *inputWindow() override { return widget_; }
    void setMovie(const QString &path) override { movie_ = path; }
    QString movie() const override { return movie_; }
    void setAllowFullScreen(const QString &) override {}
    void setContainerRect(const QRect &r) override { rect_ = r; }
    QRect containerRect() const override { return rect_; }
    QString CallFunction(const QString &request) override
    {
        lastRequest = request;
        ++calls;
        return {};
    }

    QString lastRequest;
    int calls = 0;

private:
    QWidget *widget_;
    QString movie_;
    QRect rect_;
};

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// count profiles with names of mixed case and write times spread over a year.
bool makeProfiles(const QString &folder, int count)
{
    QDir().mkpath(folder);
    auto *random = QRandomGenerator::global();
    const QByteArray body = "<profile><level>7</level><score>123456</score></profile>\r\n";
    for (int i = 0; i < count; ++i) {
        const QString name =
            QStringLiteral("%1/%2Player%3.xml").arg(folder, i % 2 ? "x" : "Y").arg(i, 5, 10, QChar('0'));
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly) || f.write(body) != body.size())
            return false;
        f.close();
        const time_t when = 1700000000 + time_t(random->bounded(365 * 86400));
        const timespec times[2] = {{when, 0}, {when, 0}};
        if (utimensat(AT_FDCWD, QFile::encodeName(name).constData(), times, 0) != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int files = 10000, reps = 15, warmup = 3;
    QString base;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i];
        if (key == "--files")
            files = atoi(argv[i + 1]);
        else if (key == "--reps")
            reps = atoi(argv[i + 1]);
        else if (key == "--warmup")
            warmup = atoi(argv[i + 1]);
        else if (key == "--folder")
            base = QString::fromLocal8Bit(argv[i + 1]);
    }
    QApplication app(argc, argv);

    QTemporaryDir temp(base.isEmpty() ? QDir::tempPath() + "/lf-bench-XXXXXX"
                                      : base + "/lf-bench-XXXXXX");
    if (!temp.isValid()) {
        std::fprintf(stderr, "bench_player_list: no temporary folder\n");
        return 1;
    }
    const QString program = temp.filePath("program");
    QDir().mkpath(program);
    {
        QFile movie(program + "/morrow.swf");
        movie.open(QIODevice::WriteOnly);
        movie.write("FWS\x0b");
        QDir().mkpath(program + "/Survey_StrategyGuide");
        QFile links(program + "/Survey_StrategyGuide/Survey_StrategyGuideLinkInfo.txt");
        links.open(QIODevice::WriteOnly);
        links.write("https://example.org/survey\r\nexample.org/guide\r\n");
    }
    const QString appData = temp.filePath("AppData");
    const QString save = appData + "/Lanternfall";
    if (!makeProfiles(save, files)) {
        std::fprintf(stderr, "bench_player_list: cannot create the profiles\n");
        return 1;
    }

    fakes::EventLog log;
    fakes::FakeServices fake(log);

    frmMain::Context context;
    context.programFolder = program;
    context.env = [&appData](const char *name) {
        return qstrcmp(name, "APPDATA") == 0 ? appData : QString();
    };
    context.services = fake.services();
    AnswerOnlyPlayer *player = nullptr;
    frmMain window([&player](QWidget *parent) { return player = new AnswerOnlyPlayer(parent); },
                   context);
    window.Form_Load();
    if (window.SavePath() != save) {
        std::fprintf(stderr, "bench_player_list: the save folder is %s, not %s\n",
                     qPrintable(window.SavePath()), qPrintable(save));
        return 1;
    }

    const std::vector<std::string> find = {"find", QFile::encodeName(save).toStdString(),
                                           "-maxdepth", "1", "-name", "*.xml",
                                           "-printf", "%T@ %f\n"};
    QJsonArray commandMs, findMs;
    qsizetype answerNames = 0;
    qsizetype findLines = 0;
    for (int rep = -warmup; rep < reps; ++rep) {
        std::string output;
        auto t0 = std::chrono::steady_clock::now();
        const int status = RunProgram(find, &output);
        const double findTime = msSince(t0);
        if (status != 0) {
            std::fprintf(stderr, "bench_player_list: find failed (%d)\n", status);
            return 1;
        }

        player->lastRequest.clear();
        const int before = player->calls;
        t0 = std::chrono::steady_clock::now();
        emit player->FSCommand(QStringLiteral("GetPlayerList"), QString());
        const double commandTime = msSince(t0);
        if (player->calls != before + 1 || !fake.ui.errors.isEmpty()) {
            std::fprintf(stderr, "bench_player_list: the command was not answered: %s\n",
                         qPrintable(fake.ui.errors.join("; ")));
            return 1;
        }
        if (rep >= 0) {
            findMs.append(findTime);
            commandMs.append(commandTime);
        }
        findLines = qsizetype(std::count(output.begin(), output.end(), '\n'));
        const auto call = InvokeRequest::Parse(player->lastRequest);
        answerNames = call && !call->argument.isEmpty() ? call->argument.count(u',') + 1 : 0;
    }

    // Where the command's time goes: its two file-system steps timed on their own, the
    // listing (with its sort) and reading the write time of each listed file.
    QJsonArray listMs, timesMs;
    for (int rep = 0; rep < reps; ++rep) {
        auto t0 = std::chrono::steady_clock::now();
        const QStringList list = FileHandler::ListFiles(save + QStringLiteral("/*.xml"));
        listMs.append(msSince(t0));
        t0 = std::chrono::steady_clock::now();
        quint64 newest = 0;
        for (const QString &name : list)
            newest = std::max(newest, FileHandler::GetFileWriteTime(save + u'/' + name));
        timesMs.append(msSince(t0));
        if (newest == 0)
            return 1;
    }

    QJsonObject result{{"files", files},
                       {"list_files_ms", listMs},
                       {"write_times_ms", timesMs},
                       {"command_ms", commandMs},
                       {"find_ms", findMs},
                       {"answer_names", answerNames},
                       {"find_lines", findLines}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return answerNames == files && findLines == files ? 0 : 1;
}
