// The application icon as compiled into the program, the version record, and the answers
// of the command line.
#include "resources/AppIcon.h"
#include "resources/CommandLine.h"
#include "resources/VersionRecord.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
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

// --- The version record ------------------------------------------------------------------

TEST(VersionRecord, HoldsItsValues)
{
    using namespace VersionRecord;
    EXPECT_EQ(FileVersionNumber, (std::array<std::uint16_t, 4>{1, 3, 0, 105}));
    EXPECT_EQ(ProductVersionNumber, (std::array<std::uint16_t, 4>{1, 3, 0, 105}));
    EXPECT_EQ(FileVersion, "1.03.0105");
    EXPECT_EQ(ProductVersion, "1.03.0105");
    EXPECT_EQ(InternalName, "Lanternfall");
    EXPECT_EQ(OriginalFilename, "Lanternfall.exe");
    EXPECT_EQ(FileDescription, "Lanternfall");
    EXPECT_EQ(ProductName, "Lanternfall");
    EXPECT_EQ(CompanyName, "The Lanternfall developers");
    EXPECT_NE(LegalCopyright.find("The Lanternfall developers"), std::string_view::npos);
    EXPECT_EQ(FileFlags, 0u);
    EXPECT_EQ(FileOS, 4u);
    EXPECT_EQ(FileType, 1u);
    EXPECT_EQ(FileSubtype, 0u);
    EXPECT_EQ(Language, 0x0409);
    EXPECT_EQ(CodePage, 0x04B0);
    EXPECT_EQ(StringTable, "040904B0");
}

TEST(VersionRecord, TextsAgreeWithTheNumbersAndTheBuild)
{
    using namespace VersionRecord;
    // The text form: major, minor in two digits, revision in four.
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u.%04u", FileVersionNumber[0], FileVersionNumber[1],
                  FileVersionNumber[3]);
    EXPECT_EQ(FileVersion, text);
    // The string table is named after the language and code page.
    char table[16];
    std::snprintf(table, sizeof table, "%04X%04X", Language, CodePage);
    EXPECT_EQ(StringTable, table);
    // Qt's application version comes from the project version.
    char dotted[32];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", FileVersionNumber[0], FileVersionNumber[1],
                  FileVersionNumber[2], FileVersionNumber[3]);
    EXPECT_STREQ(LF_VERSION, dotted);
}

std::string ReadSource(const char *relative)
{
    const auto path = std::filesystem::path(__FILE__).parent_path() / "../.." / relative;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(VersionRecord, DesktopEntryAndAppStreamFileCarryTheSameVersionAndId)
{
    const std::string version(VersionRecord::ProductVersion);
    const std::string metainfo = ReadSource("resources/io.github.lanternfall.Lanternfall.metainfo.xml");
    const std::string desktop = ReadSource("resources/io.github.lanternfall.Lanternfall.desktop");
    ASSERT_FALSE(metainfo.empty());
    ASSERT_FALSE(desktop.empty());
    EXPECT_NE(metainfo.find("<release version=\"" + version + "\""), std::string::npos);
    EXPECT_NE(metainfo.find("<id>io.github.lanternfall.Lanternfall</id>"), std::string::npos);
    EXPECT_NE(metainfo.find(">io.github.lanternfall.Lanternfall.desktop</launchable>"), std::string::npos);
    EXPECT_NE(desktop.find("\nX-Lanternfall-Version=" + version + "\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nName=" + std::string(VersionRecord::ProductName) + "\n"), std::string::npos);
    // The window's class is the application name that main() sets.
    EXPECT_NE(desktop.find("\nStartupWMClass=lanternfall\n"), std::string::npos);
}

// --- The command line --------------------------------------------------------------------

struct Answer {
    std::optional<int> code;
    std::string out, err;
};

Answer Call(std::vector<std::string> args)
{
    args.insert(args.begin(), "lanternfall");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    Answer run;
    run.code = HandleCommandLine(int(args.size()), argv.data(), out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

TEST(CommandLine, WithoutArgumentsTheProgramGoesOn)
{
    const Answer run = Call({});
    EXPECT_FALSE(run.code.has_value());
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(CommandLine, VersionPrintsTheRecord)
{
    const Answer run = Call({"--version"});
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(VersionLine(), "Lanternfall 1.03.0105 (1.3.0.105)");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), VersionLine());
    for (const char *field : {"FileVersion       1.03.0105 (1.3.0.105)", "ProductVersion    1.03.0105",
                              "InternalName      Lanternfall", "OriginalFilename  Lanternfall.exe",
                              "FileDescription   Lanternfall", "ProductName       Lanternfall",
                              "CompanyName       The Lanternfall developers", "LegalCopyright    ",
                              "0x0409", "0x04B0", "040904B0", "VOS__WINDOWS32 (4)"})
        EXPECT_NE(run.out.find(field), std::string::npos) << field;
}

TEST(CommandLine, HelpListsWhatTheProgramAccepts)
{
    const Answer run = Call({"--help"});
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    for (const char *item : {"Usage: lanternfall", "--version", "--help", "LANTERNFALL_TRACE",
                             "LANTERNFALL_PAGE_LOG", "APPDATA", "XDG_DATA_HOME", "Lanternfall"})
        EXPECT_NE(run.out.find(item), std::string::npos) << item;
    // --help wins over --version, in either order.
    EXPECT_EQ(Call({"--version", "--help"}).out, run.out);
    EXPECT_EQ(Call({"--help", "--version"}).out, run.out);
}

TEST(CommandLine, AnyOtherArgumentIsNamedAndRefused)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"-platform"}, {"--Version"}, {"movie.swf"}, {"-h"}, {""},
          {"--version", "--extra"}, {"--help", "x"}}) {
        const Answer run = Call(args);
        const std::string &bad = args.back();
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_EQ(run.out, "") << "no partial answer for " << bad;
        EXPECT_NE(run.err.find("\"" + bad + "\""), std::string::npos) << run.err;
    }
}

TEST(CommandLine, AnAnswerThatCannotBeWrittenIsAFailure)
{
    std::string arg = "--version";
    char *argv[] = {const_cast<char *>("lanternfall"), arg.data(), nullptr};
    std::ostringstream out, err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(HandleCommandLine(2, argv, out, err), 1);
    EXPECT_NE(err.str().find("cannot write"), std::string::npos);
}

TEST(CommandLine, WritesToStandardOutputAndStandardError)
{
    std::ostringstream out, err;
    auto *oldOut = std::cout.rdbuf(out.rdbuf());
    auto *oldErr = std::cerr.rdbuf(err.rdbuf());
    std::string version = "--version", bogus = "--bogus";
    char *versionArgv[] = {const_cast<char *>("lanternfall"), version.data(), nullptr};
    char *bogusArgv[] = {const_cast<char *>("lanternfall"), bogus.data(), nullptr};
    const auto versionCode = HandleCommandLine(2, versionArgv);
    const std::string versionOut = out.str();
    const auto bogusCode = HandleCommandLine(2, bogusArgv);
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    EXPECT_EQ(versionCode, 0);
    EXPECT_EQ(versionOut.rfind(VersionLine() + "\n", 0), 0u) << versionOut;
    EXPECT_EQ(bogusCode, 2);
    EXPECT_EQ(out.str(), versionOut) << "the error went to standard output";
    EXPECT_NE(err.str().find("\"--bogus\""), std::string::npos);
}

} // namespace
