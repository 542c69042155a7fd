// output.cpp: 8-bit PNGs through koc-segment's writer, 16-bit ones here
// (libpng reports errors by longjmp, so the function that calls into it
// holds only trivially destructible locals), and the truth JSON.
#include "output.hpp"

#include <png.h>

#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "../koc-segment/image_io.hpp"

namespace kocrender {

namespace {

struct PngSink {
    char message[256];
};

extern "C" void renderPngError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

extern "C" void renderPngWarning(png_structp, png_const_charp) {}

bool writeRows16(png_structp png, png_infop info, FILE* file, uint32_t width, uint32_t height, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

bool writePng16(const std::string& path, const Picture& picture, std::string& error)
{
    // Big-endian samples, as PNG stores them.
    const size_t w = static_cast<size_t>(picture.width);
    std::vector<uint8_t> bytes(picture.pixels.size() * 2);
    for (size_t k = 0; k < picture.pixels.size(); ++k) {
        bytes[2 * k] = static_cast<uint8_t>(picture.pixels[k] >> 8);
        bytes[2 * k + 1] = static_cast<uint8_t>(picture.pixels[k] & 0xff);
    }
    std::vector<png_bytep> rows(static_cast<size_t>(picture.height));
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = bytes.data() + y * w * 2;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    PngSink sink{};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, renderPngError, renderPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr && writeRows16(png, info, file, static_cast<uint32_t>(picture.width),
                                             static_cast<uint32_t>(picture.height), rows.data());
    if (!ok) error = path + ": " + (info != nullptr ? sink.message : "cannot start the PNG encoder");
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0 && ok) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

double rounded(double v)
{
    const double r = std::round(v * 1000.0) / 1000.0;
    return r == 0 ? 0.0 : r; // no "-0.0"
}

nlohmann::ordered_json point(const Point& p)
{
    return nlohmann::ordered_json::array({rounded(p.x), rounded(p.y)});
}

} // namespace

bool writePicture(const std::string& path, const Picture& picture, int depth, std::string& error)
{
    if (depth == 16) return writePng16(path, picture, error);
    const std::vector<uint8_t> bytes(picture.pixels.begin(), picture.pixels.end());
    return kocseg::writePngGrey8(path, picture.width, picture.height, bytes, error);
}

nlohmann::ordered_json truthJson(const TruthHeader& header, const Picture& picture, const std::vector<Glyph>& glyphs,
                         const Affine& map)
{
    nlohmann::ordered_json chars = nlohmann::ordered_json::array();
    for (const Glyph& g : glyphs) {
        const Box& b = g.box;
        nlohmann::ordered_json c = {{"char", g.text},
                                    {"isSpace", g.isSpace},
                                    {"box",
                                     {{"po", point(map.map(b.x0, b.y0))},
                                      {"px", point(map.map(b.x1, b.y0))},
                                      {"py", point(map.map(b.x0, b.y1))}}}};
        if (header.lines > 1) c["line"] = g.line;
        chars.push_back(std::move(c));
    }
    nlohmann::ordered_json out = {{"image", header.image},   {"width", picture.width}, {"height", picture.height},
                                  {"depth", header.depth},   {"text", header.text},    {"polarity", header.polarity},
                                  {"angle", header.angle},   {"shear", header.shear},  {"fontSize", header.fontSize}};
    if (header.lines > 1) out["lines"] = header.lines;
    out["chars"] = std::move(chars);
    return out;
}

} // namespace kocrender
