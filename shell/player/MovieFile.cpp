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
// kept) and tells whether it is intact and complete. It stops once it has the length the
// header gives: that is all the player reads. A complete stream of another length is let
// through, as the player plays it.
QString ZlibProblem(QFile &file, quint32 declaredLength)
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
    while (result != Z_STREAM_END && unpacked <= wanted && problem.isEmpty()) {
        const qint64 n = file.read(in.data(), in.size());
        if (n < 0) {
            problem = QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
            break;
        }
        if (n == 0) {
            problem = QStringLiteral("the file is cut off (its compressed content ends early)");
            break;
        }
        stream.next_in = reinterpret_cast<Bytef *>(in.data());
        stream.avail_in = uInt(n);
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                problem = QStringLiteral("its compressed content is corrupt");
                break;
            }
            unpacked += quint64(out.size()) - stream.avail_out;
        } while (stream.avail_out == 0 && result != Z_STREAM_END);
    }
    inflateEnd(&stream);
    return problem;
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
    if (signature == "FWS" && fileSize < qint64(length))
        return CutOff(fileSize, length);
    if (signature == "ZWS") {
        const qint64 whole = qint64(LzmaHeader) + LengthAt(head, 8);
        if (fileSize < whole)
            return CutOff(fileSize, whole);
    }
    return QString();
}

QString ContentProblem(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the file cannot be read (%1)").arg(file.errorString());
    const QByteArray head = file.read(HeaderBytes);
    if (const QString problem = HeaderProblem(head, file.size()); !problem.isEmpty())
        return problem;
    if (!head.startsWith("CWS"))
        return QString();
    file.seek(CommonHeader);
    return ZlibProblem(file, LengthAt(head, 4));
}

} // namespace MovieFile
