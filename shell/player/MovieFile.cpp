#include "shell/player/MovieFile.h"

#include <QFile>
#include <QtEndian>

#include <zlib.h>

namespace MovieFile {
namespace {

// Signature (3), version (1), length when uncompressed (4).
constexpr int CommonHeader = 8;
// An LZMA movie adds the compressed length (4) and the LZMA properties (5).
constexpr int LzmaHeader = CommonHeader + 4 + 5;

quint32 LengthAt(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

QString CutOff(qint64 has, qint64 needs)
{
    return QStringLiteral("the file is cut off (%1 bytes of the %2 its header gives)")
        .arg(has)
        .arg(needs);
}

// Unpacks the zlib stream that follows the header (the unpacked bytes are counted, not
// kept) and tells whether it holds the content the header gives. It stops once it has
// that length: that is all the player reads. A complete stream of another length is let
// through, as the player plays it; so is a stream whose end (its checksum) is missing or
// wrong after the whole content, with a note.
QString ZlibProblem(QFile &file, quint32 declaredLength, QString *note)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return QStringLiteral("its compressed content cannot be checked");
    const quint64 wanted = declaredLength > CommonHeader ? declaredLength - CommonHeader : 0;
    quint64 unpacked = 0;
    int result = Z_OK;
    QByteArray in(64 * 1024, Qt::Uninitialized);
    QByteArray out(256 * 1024, Qt::Uninitialized);
    QString problem;
    QString damagedEnd; // what is wrong with the stream's end, once the content is whole
    while (result != Z_STREAM_END && unpacked <= wanted && problem.isEmpty()) {
        const qint64 n = file.read(in.data(), in.size());
        if (n < 0) {
            problem = QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
            break;
        }
        if (n == 0) {
            if (unpacked >= wanted)
                damagedEnd = QStringLiteral("ends without its checksum");
            else
                problem = QStringLiteral("the file is cut off (its compressed content ends early)");
            break;
        }
        stream.next_in = reinterpret_cast<Bytef *>(in.data());
        stream.avail_in = uInt(n);
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            result = inflate(&stream, Z_NO_FLUSH);
            unpacked += quint64(out.size()) - stream.avail_out;
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                if (unpacked >= wanted)
                    damagedEnd = QStringLiteral("is damaged after the movie's content (%1)")
                                     .arg(QString::fromLatin1(stream.msg ? stream.msg : "?"));
                else
                    problem = QStringLiteral("its compressed content is corrupt");
                break;
            }
        } while (stream.avail_out == 0 && result != Z_STREAM_END);
        if (!damagedEnd.isEmpty())
            break;
    }
    inflateEnd(&stream);
    if (!damagedEnd.isEmpty() && note)
        *note = QStringLiteral("its compressed content %1; the whole content is there, so it "
                               "plays")
                    .arg(damagedEnd);
    return problem;
}

// An uncompressed movie shorter than its header says: it plays when its tags end
// properly (the file ends at the end of a tag), and is cut off when the file ends inside
// the frame header or a tag.
QString TagProblem(QFile &file, qint64 fileSize, quint32 declaredLength, QString *note)
{
    auto read = [&file](qint64 at, int count) {
        file.seek(at);
        return file.read(count);
    };
    const QString cutOff = CutOff(fileSize, declaredLength);
    // The frame header: a rectangle of 5 + 4 * n bits (n in its first 5 bits), then the
    // frame rate and the frame count, 2 bytes each.
    const QByteArray rect = read(CommonHeader, 1);
    if (rect.isEmpty())
        return cutOff;
    const int bits = 5 + 4 * (quint8(rect[0]) >> 3);
    qint64 at = CommonHeader + (bits + 7) / 8 + 4;
    bool endTag = false;
    while (at < fileSize && !endTag) {
        const QByteArray head = read(at, 2);
        if (head.size() < 2)
            return cutOff + QStringLiteral(" and ends inside a tag");
        const quint16 codeAndLength = qFromLittleEndian<quint16>(head.constData());
        qint64 length = codeAndLength & 0x3f;
        at += 2;
        if (length == 0x3f) {
            const QByteArray longLength = read(at, 4);
            if (longLength.size() < 4)
                return cutOff + QStringLiteral(" and ends inside a tag");
            length = qFromLittleEndian<quint32>(longLength.constData());
            at += 4;
        }
        endTag = (codeAndLength >> 6) == 0;
        at += length;
    }
    if (at > fileSize)
        return cutOff + QStringLiteral(" and ends inside a tag");
    if (note)
        *note = QStringLiteral("its header gives %1 bytes, the file holds %2; its tags end %3, "
                               "so it plays")
                    .arg(declaredLength)
                    .arg(fileSize)
                    .arg(endTag ? QStringLiteral("with the end tag")
                                : QStringLiteral("with the file"));
    return QString();
}

} // namespace

QString HeaderProblem(const QByteArray &head, qint64 fileSize)
{
    if (fileSize == 0)
        return QStringLiteral("the file is empty");
    const QByteArray signature = head.left(3);
    if (signature != "FWS" && signature != "CWS" && signature != "ZWS")
        return QStringLiteral("it does not begin the way a Flash movie does");
    const int needed = signature == "ZWS" ? LzmaHeader : CommonHeader;
    if (fileSize < needed || head.size() < needed)
        return QStringLiteral("the file is too short for a Flash movie (%1 bytes)").arg(fileSize);
    const quint32 length = LengthAt(head, 4);
    if (length < quint32(CommonHeader))
        return QStringLiteral("its header gives an impossible length (%1 bytes)").arg(length);
    if (signature == "ZWS") {
        const qint64 whole = qint64(LzmaHeader) + LengthAt(head, 8);
        if (fileSize < whole)
            return CutOff(fileSize, whole);
    }
    return QString();
}

QString ContentProblem(const QString &path, QString *note)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
    const QByteArray head = file.read(HeaderBytes);
    if (const QString problem = HeaderProblem(head, file.size()); !problem.isEmpty())
        return problem;
    if (head.startsWith("FWS") && file.size() < qint64(LengthAt(head, 4)))
        return TagProblem(file, file.size(), LengthAt(head, 4), note);
    if (!head.startsWith("CWS"))
        return QString();
    file.seek(CommonHeader);
    return ZlibProblem(file, LengthAt(head, 4), note);
}

} // namespace MovieFile
