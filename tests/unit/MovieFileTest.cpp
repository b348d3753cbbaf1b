// The check of a movie file before the player gets it: every kind of file a user may end up
// with in place of the movie gets its reason, and real movies of the three kinds pass.
#include "shell/player/MovieFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

QByteArray Header(const char *signature, quint32 length)
{
    QByteArray header(signature, 3);
    header += char(10);
    header.resize(8);
    qToLittleEndian(length, header.data() + 4);
    return header;
}

// A movie body: a SWF's frame header and tags would do as well as any bytes here.
QByteArray Body(int size)
{
    QByteArray body(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        body[i] = char((i * 7) % 251 < 40 ? QRandomGenerator::global()->bounded(256) : i % 13);
    return body;
}

// The body of a real uncompressed movie: the frame header (a rectangle of 0-bit fields,
// 30 frames a second, one frame), a long tag of `payload` bytes, ShowFrame and End.
QByteArray Tags(int payload)
{
    QByteArray body("\x00\x00\x1e\x01\x00", 5);
    body += QByteArray("\xff\x15", 2); // DefineBinaryData (87) with a long length
    body.resize(body.size() + 4);
    qToLittleEndian(quint32(payload), body.data() + body.size() - 4);
    body += Body(payload);
    return body + QByteArray("\x40\x00\x00\x00", 4);
}

QByteArray WithLength(QByteArray movie, quint32 length)
{
    qToLittleEndian(length, movie.data() + 4);
    return movie;
}

QByteArray Uncompressed(const QByteArray &body)
{
    return Header("FWS", quint32(8 + body.size())) + body;
}

QByteArray ZlibCompressed(const QByteArray &body)
{
    // qCompress gives a zlib stream behind a 4-byte length of its own.
    return Header("CWS", quint32(8 + body.size())) + qCompress(body).mid(4);
}

QByteArray LzmaCompressed(quint32 bodyLength, const QByteArray &packed)
{
    QByteArray header = Header("ZWS", 8 + bodyLength);
    header.resize(12);
    qToLittleEndian(quint32(packed.size()), header.data() + 8);
    return header + QByteArray(5, '\x5d') + packed; // the 5 bytes of LZMA properties
}

class MovieFileTest : public ::testing::Test {
protected:
    // The reason the file holding bytes is no movie, by the whole check; the header check
    // of the same bytes must not find a reason the whole check does not.
    QString problemOf(const QByteArray &bytes, QString *note = nullptr)
    {
        const QString path = dir.filePath("morrow.swf");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        const QString whole = MovieFile::ContentProblem(path, note);
        const QString header = MovieFile::HeaderProblem(bytes.left(MovieFile::HeaderBytes), bytes.size());
        if (!header.isEmpty()) {
            EXPECT_EQ(header, whole);
        }
        return whole;
    }

    QTemporaryDir dir;
};

TEST_F(MovieFileTest, MoviesOfEachKindPass)
{
    const QByteArray body = Body(600000);
    EXPECT_EQ(problemOf(Uncompressed(body)), QString());
    EXPECT_EQ(problemOf(ZlibCompressed(body)), QString());
    EXPECT_EQ(problemOf(LzmaCompressed(600000, Body(3000))), QString());
    // A complete stream of another length than the header gives plays all the same.
    EXPECT_EQ(problemOf(WithLength(ZlibCompressed(body), 1000)), QString());
}

TEST_F(MovieFileTest, OddButWholeMoviesPlayWithANote)
{
    // The compressed stream's end (its checksum) missing or wrong after the whole content; a
    // header that gives more than a file whose tags end properly.
    const QByteArray zlib = ZlibCompressed(Body(600000));
    QByteArray wrongChecksum = zlib;
    wrongChecksum.back() = char(wrongChecksum.back() ^ 1);
    const QByteArray tags = Uncompressed(Tags(600000));
    for (const QByteArray &bytes : {zlib.chopped(4), wrongChecksum, tags.chopped(2),
                                    WithLength(tags, tags.size() + 5000)}) {
        QString note;
        EXPECT_EQ(problemOf(bytes, &note), QString());
        EXPECT_TRUE(note.endsWith("so it plays")) << note.toStdString();
    }
}

TEST_F(MovieFileTest, EachKindOfDamageHasItsReason)
{
    const QByteArray body = Body(600000);
    const QByteArray zlib = ZlibCompressed(body);
    QByteArray corrupt = zlib;
    for (int i = 200; i < 260; ++i)
        corrupt[i] = char(corrupt[i] ^ 0x5a);

    const struct {
        const char *label;
        QByteArray bytes;
        const char *reason;
    } cases[] = {
        {"empty", QByteArray(), "the file is empty"},
        {"text", "<html><body>Not found</body></html>", "does not begin the way a Flash movie does"},
        {"lower case signature", "fws" + Uncompressed(body).mid(3), "does not begin"},
        {"signature only", "CWS", "too short for a Flash movie (3 bytes)"},
        {"impossible length", Header("FWS", 7) + body, "impossible length (7 bytes)"},
        {"uncompressed, cut off", Uncompressed(Tags(600000)).left(4096),
         "the file is cut off (4096 bytes of the 600023 its header gives) and ends inside a tag"},
        {"zlib, cut off", zlib.left(zlib.size() / 2), "cut off (its compressed content ends early)"},
        {"zlib, header only", zlib.left(8), "cut off (its compressed content ends early)"},
        {"zlib, corrupt", corrupt, "its compressed content is corrupt"},
        {"lzma, cut off", LzmaCompressed(600000, Body(3000)).left(1000),
         "the file is cut off (1000 bytes of the 3017 its header gives)"},
        {"lzma, header cut off", LzmaCompressed(600000, Body(3000)).left(12), "too short"},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(problemOf(c.bytes).contains(QLatin1String(c.reason)))
            << c.label << ": " << problemOf(c.bytes).toStdString();
}

TEST_F(MovieFileTest, AnUnreadableFileSaysWhy)
{
    EXPECT_TRUE(MovieFile::ContentProblem(dir.filePath("missing.swf")).startsWith("the file cannot be read"));
}

} // namespace
