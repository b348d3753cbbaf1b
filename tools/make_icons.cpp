// make_icons: renders the application's SVG artwork into the icon files the build ships.
//
//   make_icons ARTWORK.svg OUT_DIR
//
// writes OUT_DIR/lanternfall.ico, one icon of seven images in this order:
//   1  16x16   8 bits per pixel, 256-colour palette, bitmap with AND mask
//   2  16x16  24 bits per pixel, bitmap with AND mask
//   3  32x32  24 bits per pixel, bitmap with AND mask
//   4  48x48  24 bits per pixel, bitmap with AND mask
//   5 256x256 32 bits per pixel with alpha, PNG
//   6  32x32  32 bits per pixel with alpha, bitmap
//   7  48x48  32 bits per pixel with alpha, bitmap
// and OUT_DIR/hicolor/<n>x<n>/apps/lanternfall.png for n = 16, 32, 48, 256.
//
// Images without an alpha channel take a pixel as opaque when its alpha is at least one half;
// the others are transparent in the AND mask (and black in the colour data).

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Kind { Palette8, Rgb24, Argb32, Png };

struct Entry {
    int size;
    Kind kind;
};

// The images of the icon, in the order they are stored.
const Entry kEntries[] = {
    {16, Kind::Palette8}, {16, Kind::Rgb24}, {32, Kind::Rgb24}, {48, Kind::Rgb24},
    {256, Kind::Png},     {32, Kind::Argb32}, {48, Kind::Argb32},
};

const int kDesktopSizes[] = {16, 32, 48, 256};

void PutU8(QByteArray &out, unsigned v) { out.append(char(v & 0xFF)); }
void PutU16(QByteArray &out, unsigned v)
{
    PutU8(out, v);
    PutU8(out, v >> 8);
}
void PutU32(QByteArray &out, std::uint32_t v)
{
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

int BitCount(Kind kind)
{
    switch (kind) {
    case Kind::Palette8: return 8;
    case Kind::Rgb24: return 24;
    case Kind::Argb32:
    case Kind::Png: return 32;
    }
    return 0;
}

// Rows of a bitmap are padded to a multiple of four bytes.
int Stride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

QImage Render(QSvgRenderer &svg, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool Opaque(QRgb pixel) { return qAlpha(pixel) >= 128; }

// The colour of a pixel in an image without alpha: its own colour where opaque, black elsewhere.
QRgb Solid(QRgb pixel) { return Opaque(pixel) ? qRgb(qRed(pixel), qGreen(pixel), qBlue(pixel)) : qRgb(0, 0, 0); }

// The AND mask, bottom row first: a set bit is a transparent pixel.
QByteArray AndMask(const QImage &image, bool alphaImage)
{
    const int w = image.width(), h = image.height(), stride = Stride(w, 1);
    QByteArray mask(stride * h, '\0');
    for (int y = 0; y < h; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(h - 1 - y));
        for (int x = 0; x < w; ++x) {
            const bool transparent = alphaImage ? qAlpha(row[x]) == 0 : !Opaque(row[x]);
            if (transparent)
                mask[y * stride + x / 8] = char(mask[y * stride + x / 8] | (0x80 >> (x % 8)));
        }
    }
    return mask;
}

void PutInfoHeader(QByteArray &out, int size, int bits, std::uint32_t imageBytes)
{
    PutU32(out, 40);          // biSize
    PutU32(out, size);        // biWidth
    PutU32(out, size * 2);    // biHeight: colour data and mask together
    PutU16(out, 1);           // biPlanes
    PutU16(out, bits);        // biBitCount
    PutU32(out, 0);           // biCompression: BI_RGB
    PutU32(out, imageBytes);  // biSizeImage
    PutU32(out, 0);           // biXPelsPerMeter
    PutU32(out, 0);           // biYPelsPerMeter
    PutU32(out, 0);           // biClrUsed: all 2^bits colours for a palette image
    PutU32(out, 0);           // biClrImportant
}

QByteArray PaletteBitmap(const QImage &image)
{
    const int w = image.width(), h = image.height(), stride = Stride(w, 8);
    std::vector<QRgb> palette;
    std::map<QRgb, int> indexOf;
    QByteArray pixels(stride * h, '\0');
    for (int y = 0; y < h; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(h - 1 - y));
        for (int x = 0; x < w; ++x) {
            const QRgb colour = Solid(row[x]);
            auto found = indexOf.find(colour);
            if (found == indexOf.end()) {
                if (palette.size() == 256)
                    throw Failure("more than 256 colours in the palette image");
                found = indexOf.emplace(colour, int(palette.size())).first;
                palette.push_back(colour);
            }
            pixels[y * stride + x] = char(found->second);
        }
    }
    palette.resize(256, qRgb(0, 0, 0));
    const QByteArray mask = AndMask(image, false);
    QByteArray out;
    PutInfoHeader(out, w, 8, std::uint32_t(pixels.size() + mask.size()));
    for (QRgb c : palette) {  // RGBQUAD: blue, green, red, reserved
        PutU8(out, qBlue(c));
        PutU8(out, qGreen(c));
        PutU8(out, qRed(c));
        PutU8(out, 0);
    }
    return out + pixels + mask;
}

QByteArray TrueColourBitmap(const QImage &image, bool alpha)
{
    const int w = image.width(), h = image.height(), bits = alpha ? 32 : 24;
    const int stride = Stride(w, bits);
    QByteArray pixels(stride * h, '\0');
    for (int y = 0; y < h; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(h - 1 - y));
        char *dst = pixels.data() + y * stride;
        for (int x = 0; x < w; ++x) {
            const QRgb c = alpha ? row[x] : Solid(row[x]);
            *dst++ = char(qBlue(c));
            *dst++ = char(qGreen(c));
            *dst++ = char(qRed(c));
            if (alpha)
                *dst++ = char(qAlpha(c));
        }
    }
    const QByteArray mask = AndMask(image, alpha);
    QByteArray out;
    PutInfoHeader(out, w, bits, std::uint32_t(pixels.size() + mask.size()));
    return out + pixels + mask;
}

QByteArray Png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG"))
        throw Failure("cannot encode a PNG image");
    return bytes;
}

QByteArray Icon(const std::map<int, QImage> &rendered)
{
    std::vector<QByteArray> images;
    for (const Entry &e : kEntries) {
        const QImage &image = rendered.at(e.size);
        switch (e.kind) {
        case Kind::Palette8: images.push_back(PaletteBitmap(image)); break;
        case Kind::Rgb24: images.push_back(TrueColourBitmap(image, false)); break;
        case Kind::Argb32: images.push_back(TrueColourBitmap(image, true)); break;
        case Kind::Png: images.push_back(Png(image)); break;
        }
    }
    const int count = int(std::size(kEntries));
    QByteArray out;
    PutU16(out, 0);      // idReserved
    PutU16(out, 1);      // idType: icon
    PutU16(out, count);  // idCount
    std::uint32_t offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        const Entry &e = kEntries[i];
        PutU8(out, e.size >= 256 ? 0 : e.size);  // bWidth: 0 stands for 256
        PutU8(out, e.size >= 256 ? 0 : e.size);  // bHeight
        PutU8(out, 0);                           // bColorCount: 0 for 256 colours or more
        PutU8(out, 0);                           // bReserved
        PutU16(out, 1);                          // wPlanes
        PutU16(out, BitCount(e.kind));           // wBitCount
        PutU32(out, std::uint32_t(images[i].size()));  // dwBytesInRes
        PutU32(out, offset);                           // dwImageOffset
        offset += std::uint32_t(images[i].size());
    }
    for (const QByteArray &image : images)
        out += image;
    return out;
}

void Write(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw Failure("cannot create the folder of " + path.toStdString());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Failure("cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
}

void Run(const QString &artwork, const QString &outDir)
{
    QSvgRenderer svg(artwork);
    if (!svg.isValid())
        throw Failure("cannot read the artwork " + artwork.toStdString());
    std::map<int, QImage> rendered;
    for (const Entry &e : kEntries)
        rendered.emplace(e.size, QImage());
    for (int size : kDesktopSizes)
        rendered.emplace(size, QImage());
    for (auto &[size, image] : rendered)
        image = Render(svg, size);

    Write(outDir + QStringLiteral("/lanternfall.ico"), Icon(rendered));
    for (int size : kDesktopSizes)
        Write(QStringLiteral("%1/hicolor/%2x%2/apps/lanternfall.png").arg(outDir).arg(size),
              Png(rendered.at(size)));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons ARTWORK.svg OUT_DIR\n");
        return 2;
    }
    try {
        Run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make_icons: %s\n", e.what());
        return 1;
    }
    return 0;
}
