// The application icon as compiled into the program.
#include "resources/AppIcon.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

// --- Reading the icon file -------------------------------------------------------------

std::uint32_t U8(const QByteArray &b, qsizetype at) { return std::uint8_t(b.at(at)); }
std::uint32_t U16(const QByteArray &b, qsizetype at) { return U8(b, at) | U8(b, at + 1) << 8; }
std::uint32_t U32(const QByteArray &b, qsizetype at) { return U16(b, at) | U16(b, at + 2) << 16; }
std::int32_t S32(const QByteArray &b, qsizetype at) { return std::int32_t(U32(b, at)); }

struct DirEntry {
    int width, height, colorCount, reserved, planes, bitCount;
    std::uint32_t bytes, offset;
};

struct Expected {
    int size, bits;
    bool png;
};

// The seven images, in their order.
const Expected kExpected[] = {
    {16, 8, false}, {16, 24, false}, {32, 24, false}, {48, 24, false},
    {256, 32, true}, {32, 32, false}, {48, 32, false},
};

QByteArray IconBytes()
{
    QFile file(LanternfallIconPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::vector<DirEntry> Directory(const QByteArray &ico)
{
    std::vector<DirEntry> entries;
    const int count = int(U16(ico, 4));
    for (int i = 0; i < count; ++i) {
        const qsizetype at = 6 + 16 * i;
        entries.push_back({int(U8(ico, at)), int(U8(ico, at + 1)), int(U8(ico, at + 2)),
                           int(U8(ico, at + 3)), int(U16(ico, at + 4)), int(U16(ico, at + 6)),
                           U32(ico, at + 8), U32(ico, at + 12)});
    }
    return entries;
}

int Stride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

// One bitmap image of the icon, decoded by hand: colours (with the mask applied) top row first.
struct Bitmap {
    int size = 0, bits = 0;
    std::uint32_t headerSize = 0, compression = 0, clrUsed = 0;
    std::int32_t width = 0, height = 0;
    int planes = 0;
    std::vector<QRgb> palette;
    std::vector<QRgb> pixels;   // colour data; alpha from the data (32 bits) or 255
    std::vector<bool> masked;   // AND mask: true = transparent
    qsizetype expectedBytes = 0;

    QRgb at(int x, int y) const { return pixels[y * size + x]; }
    bool transparent(int x, int y) const { return masked[y * size + x]; }
};

Bitmap DecodeBitmap(const QByteArray &ico, const DirEntry &e)
{
    Bitmap bmp;
    const QByteArray d = ico.mid(e.offset, e.bytes);
    bmp.headerSize = U32(d, 0);
    bmp.width = S32(d, 4);
    bmp.height = S32(d, 8);
    bmp.planes = int(U16(d, 12));
    bmp.bits = int(U16(d, 14));
    bmp.compression = U32(d, 16);
    bmp.clrUsed = U32(d, 32);
    bmp.size = bmp.width;
    const int n = bmp.size;
    qsizetype at = bmp.headerSize;
    if (bmp.bits <= 8) {
        const int colours = bmp.clrUsed ? int(bmp.clrUsed) : 1 << bmp.bits;
        for (int i = 0; i < colours; ++i, at += 4)
            bmp.palette.push_back(qRgb(U8(d, at + 2), U8(d, at + 1), U8(d, at)));
    }
    const int stride = Stride(n, bmp.bits), maskStride = Stride(n, 1);
    bmp.expectedBytes = at + qsizetype(stride) * n + qsizetype(maskStride) * n;
    if (d.size() < bmp.expectedBytes)
        return bmp;
    bmp.pixels.resize(n * n);
    bmp.masked.resize(n * n);
    for (int row = 0; row < n; ++row) {
        const int y = n - 1 - row;  // bottom row first
        const qsizetype line = at + qsizetype(row) * stride;
        const qsizetype maskLine = at + qsizetype(stride) * n + qsizetype(row) * maskStride;
        for (int x = 0; x < n; ++x) {
            QRgb c = 0;
            if (bmp.bits == 8) {
                const int index = int(U8(d, line + x));
                c = index < int(bmp.palette.size()) ? bmp.palette[index] : qRgba(255, 0, 255, 0);
            } else if (bmp.bits == 24) {
                const qsizetype p = line + x * 3;
                c = qRgb(U8(d, p + 2), U8(d, p + 1), U8(d, p));
            } else {
                const qsizetype p = line + x * 4;
                c = qRgba(U8(d, p + 2), U8(d, p + 1), U8(d, p), U8(d, p + 3));
            }
            bmp.pixels[y * n + x] = c;
            bmp.masked[y * n + x] = (U8(d, maskLine + x / 8) >> (7 - x % 8)) & 1;
        }
    }
    return bmp;
}

bool HasPartialAlpha(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const int a = qAlpha(argb.pixel(x, y));
            if (a > 0 && a < 255)
                return true;
        }
    return false;
}

class IconFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ico = IconBytes();
        ASSERT_GT(ico.size(), 6) << "the icon is not in the program's resources";
        entries = Directory(ico);
        ASSERT_EQ(entries.size(), 7u);
    }
    QByteArray ico;
    std::vector<DirEntry> entries;
};

// --- The icon file -----------------------------------------------------------------------

TEST_F(IconFile, HeaderAndDirectoryListSevenImagesInOrder)
{
    EXPECT_EQ(U16(ico, 0), 0u) << "idReserved";
    EXPECT_EQ(U16(ico, 2), 1u) << "idType: an icon, not a cursor";
    std::uint32_t next = 6 + 16 * 7;
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const DirEntry &e = entries[i];
        const int sizeByte = kExpected[i].size == 256 ? 0 : kExpected[i].size;
        EXPECT_EQ(e.width, sizeByte);
        EXPECT_EQ(e.height, sizeByte);
        EXPECT_EQ(e.colorCount, 0) << "256 colours and more are stored as 0";
        EXPECT_EQ(e.reserved, 0);
        EXPECT_EQ(e.planes, 1);
        EXPECT_EQ(e.bitCount, kExpected[i].bits);
        // The images follow the directory without gaps or overlaps, and the last ends the file.
        EXPECT_EQ(e.offset, next);
        next = e.offset + e.bytes;
    }
    EXPECT_EQ(qsizetype(next), ico.size());
}

TEST_F(IconFile, BitmapImagesHaveHeaderColourDataAndMask)
{
    for (int i = 0; i < 7; ++i) {
        if (kExpected[i].png)
            continue;
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const Bitmap bmp = DecodeBitmap(ico, entries[i]);
        EXPECT_EQ(bmp.headerSize, 40u) << "BITMAPINFOHEADER";
        EXPECT_EQ(bmp.width, kExpected[i].size);
        EXPECT_EQ(bmp.height, 2 * kExpected[i].size) << "colour data and mask: twice the height";
        EXPECT_EQ(bmp.planes, 1);
        EXPECT_EQ(bmp.bits, kExpected[i].bits) << "header and directory agree";
        EXPECT_EQ(bmp.compression, 0u) << "BI_RGB";
        EXPECT_EQ(qsizetype(entries[i].bytes), bmp.expectedBytes)
            << "header, palette, colour rows and mask rows, each row padded to 4 bytes";
        ASSERT_EQ(bmp.pixels.size(), std::size_t(kExpected[i].size * kExpected[i].size));
        // The lantern stands in the middle; the corners are clear.
        const int n = bmp.size;
        EXPECT_FALSE(bmp.transparent(n / 2, n / 2));
        EXPECT_TRUE(bmp.transparent(0, 0));
        EXPECT_TRUE(bmp.transparent(n - 1, 0));
        EXPECT_TRUE(bmp.transparent(0, n - 1));
    }
}

TEST_F(IconFile, FirstImageUsesAFullPaletteOfTheArtworksColours)
{
    const Bitmap bmp = DecodeBitmap(ico, entries[0]);
    ASSERT_EQ(bmp.bits, 8);
    EXPECT_TRUE(bmp.clrUsed == 0 || bmp.clrUsed == 256) << bmp.clrUsed;
    ASSERT_EQ(bmp.palette.size(), 256u);
    ASSERT_EQ(bmp.pixels.size(), 256u);
    // Every pixel names a palette entry; the visible ones use many real colours, not a few.
    std::set<QRgb> visible;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(qAlpha(bmp.at(x, y)), 255) << "index past the palette at " << x << "," << y;
            if (!bmp.transparent(x, y))
                visible.insert(bmp.at(x, y));
        }
    EXPECT_GE(visible.size(), 16u);
    // The same picture as the 24-bit image of that size, colour for colour.
    const Bitmap rgb = DecodeBitmap(ico, entries[1]);
    ASSERT_EQ(rgb.pixels.size(), 256u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(bmp.transparent(x, y), rgb.transparent(x, y)) << x << "," << y;
            if (!bmp.transparent(x, y)) {
                EXPECT_EQ(bmp.at(x, y), rgb.at(x, y)) << x << "," << y;
            }
        }
}

TEST_F(IconFile, FifthImageIsA256PixelRgbaPng)
{
    const QByteArray png = ico.mid(entries[4].offset, entries[4].bytes);
    ASSERT_TRUE(png.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)));
    ASSERT_EQ(png.mid(12, 4), QByteArray("IHDR"));
    auto be32 = [&](int at) { return U8(png, at) << 24 | U8(png, at + 1) << 16 | U8(png, at + 2) << 8 | U8(png, at + 3); };
    EXPECT_EQ(be32(16), 256u);
    EXPECT_EQ(be32(20), 256u);
    EXPECT_EQ(U8(png, 24), 8u) << "8 bits per channel";
    EXPECT_EQ(U8(png, 25), 6u) << "colour type 6: RGB with alpha";
    const QImage image = QImage::fromData(png, "PNG");
    ASSERT_EQ(image.size(), QSize(256, 256));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(128, 128)), 255);
    EXPECT_TRUE(HasPartialAlpha(image)) << "the glow fades out";
}

TEST_F(IconFile, AlphaBitmapsCarryTheirAlphaAndTheOthersDoNot)
{
    for (int i : {5, 6}) {
        SCOPED_TRACE("image " + std::to_string(i + 1));
        const Bitmap bmp = DecodeBitmap(ico, entries[i]);
        ASSERT_FALSE(bmp.pixels.empty());
        int partial = 0;
        for (int y = 0; y < bmp.size; ++y)
            for (int x = 0; x < bmp.size; ++x) {
                const int a = qAlpha(bmp.at(x, y));
                partial += a > 0 && a < 255;
                // The mask never hides a pixel that the alpha channel shows.
                if (a > 0) {
                    EXPECT_FALSE(bmp.transparent(x, y)) << x << "," << y;
                }
            }
        EXPECT_GT(partial, bmp.size) << "soft edges and glow need real alpha values";
        EXPECT_EQ(qAlpha(bmp.at(0, 0)), 0);
        EXPECT_EQ(qAlpha(bmp.at(bmp.size / 2, bmp.size / 2)), 255);
    }
    // Images with a one-bit mask hold black where the mask is set: no stray colour at edges.
    for (int i : {1, 2, 3}) {
        const Bitmap bmp = DecodeBitmap(ico, entries[i]);
        for (int y = 0; y < bmp.size; ++y)
            for (int x = 0; x < bmp.size; ++x) {
                if (bmp.transparent(x, y)) {
                    EXPECT_EQ(bmp.at(x, y), qRgb(0, 0, 0)) << "image " << i + 1 << " at " << x << "," << y;
                }
            }
    }
}

TEST_F(IconFile, QtReadsEveryImage)
{
    QImageReader reader(LanternfallIconPath(), "ico");
    ASSERT_EQ(reader.imageCount(), 7) << reader.errorString().toStdString();
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read();
        EXPECT_EQ(image.size(), QSize(kExpected[i].size, kExpected[i].size))
            << "image " << i + 1 << ": " << reader.errorString().toStdString();
    }
}

TEST(AppIcon, WindowIconHasEverySizeAndTheAlphaImages)
{
    const QIcon icon = LanternfallIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int n : {16, 32, 48, 256})
        EXPECT_TRUE(sizes.contains(QSize(n, n))) << n;
    // 32 and 48 come from the images with an alpha channel, not from those with a mask.
    for (int n : {32, 48}) {
        const QImage image = icon.pixmap(QSize(n, n)).toImage();
        ASSERT_EQ(image.size(), QSize(n, n));
        EXPECT_TRUE(HasPartialAlpha(image)) << n;
    }
}

} // namespace
