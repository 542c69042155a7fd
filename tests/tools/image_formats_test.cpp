// image_formats_test.cpp: koc-segment on JPEG and TIFF files written by
// libjpeg and libtiff: the same line as from a PNG, 16-bit TIFF kept at 16
// bits, and truncated, corrupt or oversized files refused with a reason.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "tools/tool_support.hpp"

namespace {

using tooltest::Outcome;
using tooltest::ToolTest;
namespace fs = std::filesystem;

const std::string kRoad = " --segmentationMethod 1 --minCharArea 10 --no-auto ";

void writeJpeg(const fs::path& p, int width, int height, const std::vector<double>& grey, bool colour)
{
    FILE* file = std::fopen(p.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = colour ? 3 : 1;
    info.in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 92, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width * info.input_components));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto v = static_cast<uint8_t>(std::lround(grey[static_cast<size_t>(y * width + x)]));
            for (int c = 0; c < info.input_components; ++c) row[static_cast<size_t>(x * info.input_components + c)] = v;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

struct TiffKind {
    int bits = 8;          // 8 or 16 (16: value * 257)
    int samples = 1;       // 1 grey, 3 RGB, 4 RGBA
    bool minIsWhite = false;
    bool tiled = false;    // 16x16 tiles: read through libtiff's RGBA reader
    uint16_t compression = COMPRESSION_NONE;
};

void writeTiff(const fs::path& p, int width, int height, const std::vector<double>& grey, const TiffKind& k)
{
    TIFF* tiff = TIFFOpen(p.c_str(), "w");
    ASSERT_NE(nullptr, tiff);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(k.bits));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(k.samples));
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, k.compression);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 k.samples >= 3 ? PHOTOMETRIC_RGB : k.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    if (k.samples == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const int bytes = k.bits / 8;
    auto sample = [&](int x, int y, int c) -> uint32_t {
        uint32_t v = static_cast<uint32_t>(std::lround(grey[static_cast<size_t>(y * width + x)]));
        if (c == 3) v = 255; // opaque
        if (k.minIsWhite) v = 255 - v;
        return k.bits == 16 ? v * 257 : v;
    };
    auto put = [&](uint8_t* at, uint32_t v) {
        if (bytes == 2) {
            const auto w = static_cast<uint16_t>(v);
            std::memcpy(at, &w, 2);
        } else {
            *at = static_cast<uint8_t>(v);
        }
    };
    if (k.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16u);
        std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tiff)));
        for (int ty = 0; ty < height; ty += 16)
            for (int tx = 0; tx < width; tx += 16) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = 0; y < 16 && ty + y < height; ++y)
                    for (int x = 0; x < 16 && tx + x < width; ++x)
                        for (int c = 0; c < k.samples; ++c)
                            put(&tile[static_cast<size_t>(((y * 16 + x) * k.samples + c) * bytes)], sample(tx + x, ty + y, c));
                TIFFWriteTile(tiff, tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0, 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 8u);
        std::vector<uint8_t> row(static_cast<size_t>(width * k.samples * bytes));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < k.samples; ++c) put(&row[static_cast<size_t>((x * k.samples + c) * bytes)], sample(x, y, c));
            TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
        }
    }
    TIFFClose(tiff);
}

std::vector<nlohmann::json> marks(const nlohmann::json& doc)
{
    std::vector<nlohmann::json> out;
    for (const auto& p : doc["paragraphs"][0]["lines"][0]["positions"]) out.push_back(p["markRect"]);
    return out;
}

struct Case {
    const char* name;
    const char* file;
    int jpeg;   // 1 grey JPEG, 3 colour JPEG, 0 TIFF
    TiffKind tiff;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class Decoders : public ToolTest, public ::testing::WithParamInterface<Case> {};

// A PNG of the same line is the reference: its marks are checked against the
// glyphs elsewhere. JPEG is lossy, so its marks may move by a pixel.
TEST_P(Decoders, GiveTheLineThePngGives)
{
    const test::TextLine l = tooltest::straightLine();
    const std::vector<double> grey = tooltest::renderGrey(l);
    tooltest::writePng(path("ref.png"), l.width, l.height, grey, PNG_FORMAT_GRAY);
    const Case& c = GetParam();
    const fs::path file = path(c.file);
    if (c.jpeg != 0)
        writeJpeg(file, l.width, l.height, grey, c.jpeg == 3);
    else
        writeTiff(file, l.width, l.height, grey, c.tiff);

    const Outcome ref = run(kRoad + "--json - '" + path("ref.png").string() + "'");
    ASSERT_EQ(0, ref.status) << ref.err;
    const Outcome got = run(kRoad + "--json '" + path("out.json").string() + "' '" + file.string() + "'");
    ASSERT_EQ(0, got.status) << got.err;
    const int bits = c.jpeg == 0 ? c.tiff.bits : 8;
    EXPECT_NE(std::string::npos, got.out.find("300x80 " + std::to_string(c.tiff.tiled ? 8 : bits) + "-bit")) << got.out;

    const auto want = marks(ref.json()), have = marks(nlohmann::json::parse(tooltest::readText(path("out.json"))));
    ASSERT_EQ(want.size(), have.size());
    const double tolerance = c.jpeg != 0 || bits == 16 ? 1.0 : 0.0;
    for (size_t i = 0; i < want.size(); ++i)
        for (const char* corner : {"po", "px", "py"})
            for (size_t a = 0; a < 2; ++a)
                EXPECT_NEAR(want[i][corner][a].get<double>(), have[i][corner][a].get<double>(), tolerance)
                    << "mark " << i << " " << corner;
}

INSTANTIATE_TEST_SUITE_P(
    Files, Decoders,
    ::testing::Values(Case{"jpegGrey", "a.jpg", 1, {}}, Case{"jpegColour", "photo.jpeg", 3, {}},
                      Case{"tiffGrey8", "a.tif", 0, {8, 1, false, false, COMPRESSION_NONE}},
                      Case{"tiffGrey16", "a16.tiff", 0, {16, 1, false, false, COMPRESSION_LZW}},
                      Case{"tiffRgb8", "rgb.tif", 0, {8, 3, false, false, COMPRESSION_ADOBE_DEFLATE}},
                      Case{"tiffRgba16", "rgba16.tif", 0, {16, 4, false, false, COMPRESSION_NONE}},
                      Case{"tiffMinIsWhite", "white.tif", 0, {8, 1, true, false, COMPRESSION_PACKBITS}},
                      Case{"tiffTiled", "tiled.tif", 0, {8, 1, false, true, COMPRESSION_NONE}}),
    [](const auto& param) { return std::string(param.param.name); });

// Every bad file fails alone with its reason and exit status 1; the good
// ones beside them still complete.
TEST_F(ToolTest, BrokenJpegAndTiffFilesAreRefusedWithTheirReason)
{
    const test::TextLine l = tooltest::straightLine();
    const std::vector<double> grey = tooltest::renderGrey(l);
    writeJpeg(path("good.jpg"), l.width, l.height, grey, false);
    writeTiff(path("good.tif"), l.width, l.height, grey, TiffKind{});
    writeTiff(path("good16.tif"), l.width, l.height, grey, TiffKind{16, 1, false, false, COMPRESSION_LZW});
    const std::string jpeg = tooltest::readText(path("good.jpg")), tiff = tooltest::readText(path("good.tif")),
                      tiff16 = tooltest::readText(path("good16.tif"));
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(path(name), std::ios::binary) << bytes;
    };
    // Stray bytes before the end marker: libjpeg warns, the pixels are whole.
    write("stray.jpg", jpeg.substr(0, jpeg.size() - 2) + std::string("\0\0\xff\xd9", 4));
    write("cut.jpg", jpeg.substr(0, jpeg.size() / 2));
    write("header-only.jpg", jpeg.substr(0, 40));
    // The frame header's precision byte (after FFC0 and its length) set to 0.
    std::string badFrame = jpeg;
    const size_t sof = badFrame.find("\xff\xc0");
    ASSERT_NE(std::string::npos, sof);
    badFrame[sof + 4] = 0;
    write("bad-frame.jpg", badFrame);
    // 65000 x 65000 pixels declared in the frame header.
    std::string huge = jpeg;
    huge[sof + 5] = huge[sof + 7] = static_cast<char>(0xfd);
    huge[sof + 6] = huge[sof + 8] = static_cast<char>(0xe8);
    write("huge.jpg", huge);
    write("cut.tif", tiff.substr(0, tiff.size() / 2));
    write("cut16.tif", tiff16.substr(0, tiff16.size() / 3));
    write("header-only.tif", tiff.substr(0, 8));
    // The first directory's offset points far past the end.
    std::string lost = tiff;
    lost[4] = lost[5] = lost[6] = static_cast<char>(0x7f);
    write("lost-directory.tif", lost);

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"cut.jpg", "bad JPEG: Premature end"},
        {"header-only.jpg", "bad JPEG"},
        {"bad-frame.jpg", "bad JPEG: Unsupported JPEG data precision 0"},
        {"huge.jpg", "image too large (65000x65000)"},
        {"cut.tif", "bad TIFF"},
        {"cut16.tif", "bad TIFF"},
        {"header-only.tif", "bad TIFF"},
        {"lost-directory.tif", "bad TIFF"},
    };
    std::string args = kRoad + "--json - '" + path("good.jpg").string() + "' '" + path("stray.jpg").string() + "'";
    for (const auto& [name, reason] : bad) args += " '" + path(name).string() + "'";
    const Outcome o = run(args);
    EXPECT_EQ(1, o.status);
    const nlohmann::json doc = o.json();
    ASSERT_EQ(bad.size() + 2, doc.size());
    EXPECT_FALSE(doc[0].contains("error")) << doc[0];
    EXPECT_FALSE(doc[1].contains("error")) << doc[1];
    for (size_t i = 0; i < bad.size(); ++i) {
        const nlohmann::json& r = doc[i + 2];
        ASSERT_TRUE(r.contains("error")) << bad[i].first;
        EXPECT_EQ("BAD_IMAGE_FILE", r["error"]["name"]) << bad[i].first;
        EXPECT_NE(std::string::npos, r["error"]["message"].get<std::string>().find(bad[i].second))
            << bad[i].first << ": " << r["error"]["message"];
        EXPECT_NE(std::string::npos, o.err.find(bad[i].first + ": BAD_IMAGE_FILE")) << o.err;
    }
    // libtiff and libjpeg print nothing of their own: every line is the tool's.
    std::istringstream lines(o.err);
    for (std::string text; std::getline(lines, text);) EXPECT_EQ(0u, text.rfind("koc-segment: ", 0)) << text;
}

} // namespace
