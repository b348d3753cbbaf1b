// The check of a compressed movie before it plays (MovieFile::ContentProblem: the whole
// zlib stream unpacked and counted), against reading the same file to its end, which is
// the least any check of the whole file costs. The host runs the check beside the page's
// loading, so it delays the start only when it takes longer than that loading.
//
//   bench_movie_check [--mb N] [--reps R] [--folder DIR]
//
// N megabytes unpacked (default 20: a large game movie), movie-like content (half a
// compressible stream of tags, half image data that barely compresses). Prints one JSON
// object with the timings in milliseconds.
#include "shell/player/MovieFile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <chrono>
#include <cstdio>

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

QByteArray movieBody(qsizetype size)
{
    QByteArray body(size, Qt::Uninitialized);
    QRandomGenerator random(42);
    for (qsizetype i = 0; i < size; ++i)
        body[i] = (i / 4096) % 2 ? char(random.bounded(256)) : char("\x3f\x03\x10\x00"[i % 4] + i % 7);
    return body;
}

} // namespace

int main(int argc, char **argv)
{
    int reps = 9, megabytes = 20;
    QString base = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i];
        if (key == "--reps")
            reps = atoi(argv[i + 1]);
        else if (key == "--mb")
            megabytes = atoi(argv[i + 1]);
        else if (key == "--folder")
            base = QString::fromLocal8Bit(argv[i + 1]);
    }
    QTemporaryDir temp(base + "/lf-bench-movie-XXXXXX");
    const QString path = temp.filePath("morrow.swf");
    const QByteArray body = movieBody(qsizetype(megabytes) << 20);
    QByteArray movie("CWS\x0a\0\0\0\0", 8);
    qToLittleEndian(quint32(8 + body.size()), movie.data() + 4);
    movie += qCompress(body).mid(4); // a zlib stream behind qCompress's own length
    QFile out(path);
    if (!temp.isValid() || !out.open(QIODevice::WriteOnly) || out.write(movie) != movie.size()) {
        std::fprintf(stderr, "bench_movie_check: cannot write %s\n", qPrintable(path));
        return 1;
    }
    out.close();

    QJsonArray checkMs, readMs;
    for (int rep = -1; rep < reps; ++rep) {
        auto t0 = std::chrono::steady_clock::now();
        QFile in(path);
        in.open(QIODevice::ReadOnly);
        QByteArray chunk(64 * 1024, Qt::Uninitialized);
        while (in.read(chunk.data(), chunk.size()) > 0) {
        }
        const double readTime = msSince(t0);
        t0 = std::chrono::steady_clock::now();
        const QString problem = MovieFile::ContentProblem(path);
        const double checkTime = msSince(t0);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "bench_movie_check: %s\n", qPrintable(problem));
            return 1;
        }
        if (rep >= 0) {
            readMs.append(readTime);
            checkMs.append(checkTime);
        }
    }
    const QJsonObject result{{"unpacked_bytes", double(body.size())},
                             {"file_bytes", double(movie.size())},
                             {"check_ms", checkMs},
                             {"read_ms", readMs}};
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}
