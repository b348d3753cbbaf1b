// A durable save of a 1 MiB profile through SaveFiles::WriteSaveFile (temporary file,
// fsync, rename, fsync of the folder), against dd(1) writing the same bytes with
// conv=fsync, alternately, into the same folder.
//
//   bench_save [--folder DIR] [--reps R] [--warmup W] [--bytes N]
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
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i];
        if (key == "--reps")
            reps = atoi(argv[i + 1]);
        else if (key == "--warmup")
            warmup = atoi(argv[i + 1]);
        else if (key == "--bytes")
            bytes = atoll(argv[i + 1]);
        else if (key == "--folder")
            base = QString::fromLocal8Bit(argv[i + 1]);
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
        try {
            SaveFiles::WriteSaveFile(profile, text);
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
    const bool same = QFileInfo(profile).size() == bytes && QFileInfo(copy).size() == bytes;
    QJsonObject result{{"bytes", double(bytes)},
                       {"folder", base},
                       {"save_ms", saveMs},
                       {"dd_ms", ddMs},
                       {"sizes_ok", same}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return same ? 0 : 1;
}
