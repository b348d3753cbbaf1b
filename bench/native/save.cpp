// A durable save of a 1 MiB profile through SaveFiles::WriteSaveFile (temporary file,
// fsync, rename, fsync of the folder), against dd(1) writing the same bytes with
// conv=fsync, alternately, into the same folder. Each save changes the profile (one
// character), as a game's save does, so each one also keeps the old content in the
// backups (and, from the eleventh on, removes the oldest version); --same saves the same
// text every time, which keeps nothing.
//
//   bench_save [--folder DIR] [--reps R] [--warmup W] [--bytes N] [--same]
//
// Prints one JSON object with the timings of both in milliseconds.
#include "Spawn.h"

#include "bridge/core/HostError.h"
#include "bridge/core/SaveFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Profile-like text: markup lines of ASCII, exactly `size` characters.
QString profileText(qsizetype size)
{
    QString text;
    text.reserve(size);
    for (int i = 0; text.size() < size; ++i)
        text += QStringLiteral("<level n=\"%1\"><score>%2</score><time>%3</time></level>")
                    .arg(i)
                    .arg((i * 7919) % 1000003)
                    .arg((i * 104729) % 360000);
    text.truncate(size);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    int reps = 15, warmup = 2;
    qsizetype bytes = 1 << 20;
    QString base = QDir::tempPath();
    bool same = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray key = argv[i];
        if (key == "--same") {
            same = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (key == "--reps")
            reps = atoi(argv[++i]);
        else if (key == "--warmup")
            warmup = atoi(argv[++i]);
        else if (key == "--bytes")
            bytes = atoll(argv[++i]);
        else if (key == "--folder")
            base = QString::fromLocal8Bit(argv[++i]);
    }
    QTemporaryDir temp(base + "/lf-bench-save-XXXXXX");
    if (!temp.isValid()) {
        std::fprintf(stderr, "bench_save: no temporary folder in %s\n", qPrintable(base));
        return 1;
    }
    // What is saved: text that becomes exactly `bytes` bytes with the line end.
    const QString text = profileText(bytes - 2);
    const QString profile = temp.filePath("PLAYER.xml");
    const QString source = temp.filePath("source.bin");
    const QString copy = temp.filePath("copy.bin");
    {
        QFile f(source);
        const QByteArray content = text.toUtf8() + "\r\n";
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
            std::fprintf(stderr, "bench_save: cannot write %s\n", qPrintable(source));
            return 1;
        }
    }
    const std::vector<std::string> dd = {"dd", "if=" + QFile::encodeName(source).toStdString(),
                                         "of=" + QFile::encodeName(copy).toStdString(),
                                         "bs=1M", "count=1", "conv=fsync", "status=none"};
    QJsonArray saveMs, ddMs;
    for (int rep = -warmup; rep < reps; ++rep) {
        auto t0 = std::chrono::steady_clock::now();
        if (RunProgram(dd, nullptr) != 0) {
            std::fprintf(stderr, "bench_save: dd failed\n");
            return 1;
        }
        const double ddTime = msSince(t0);
        t0 = std::chrono::steady_clock::now();
        QString saved = text;
        if (!same)
            saved[saved.size() - 1] = QChar(u'0' + (rep + warmup) % 10);
        try {
            SaveFiles::WriteSaveFile(profile, saved);
        } catch (const HostError &error) {
            std::fprintf(stderr, "bench_save: %s\n", qPrintable(error.message()));
            return 1;
        }
        const double saveTime = msSince(t0);
        if (rep >= 0) {
            ddMs.append(ddTime);
            saveMs.append(saveTime);
        }
    }
    const bool sizesOk = QFileInfo(profile).size() == bytes && QFileInfo(copy).size() == bytes;
    const qsizetype versions =
        QDir(temp.filePath("backups")).entryList(QDir::Files | QDir::Hidden).size();
    QJsonObject result{{"bytes", double(bytes)},
                       {"folder", base},
                       {"save_ms", saveMs},
                       {"dd_ms", ddMs},
                       {"versions_kept", double(versions)},
                       {"sizes_ok", sizesOk}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return sizesOk ? 0 : 1;
}
