// image_io.cpp: the format dispatch by first bytes, PNG through libpng (its
// errors come back by longjmp, so the functions that call into it hold only
// trivially destructible locals), and a small hand-written PGM reader.
#include "image_io.hpp"

#include "image_decoders.hpp"

#include <png.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kocseg {

namespace {

// ---- PNG reading ----------------------------------------------------------

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
    char message[256];
};

extern "C" void pngOnError(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    // A warning just before the error says why (the size limit, say).
    if (source->message[0] != '\0') {
        const std::string warning = source->message;
        std::snprintf(source->message, sizeof source->message, "%s (%s)", message, warning.c_str());
    } else {
        std::snprintf(source->message, sizeof source->message, "%s", message);
    }
    png_longjmp(png, 1);
}

extern "C" void pngOnWarning(png_structp png, png_const_charp message)
{
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(source->message, sizeof source->message, "%s", message);
}

extern "C" void pngOnRead(png_structp png, png_bytep out, png_size_t count)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->pos) {
        png_error(png, "file is truncated");
    }
    std::memcpy(out, source->data + source->pos, count);
    source->pos += count;
}

struct PngLayout {
    uint32_t width;
    uint32_t height;
    int channels; // 1 grey or 3 colour, after the transforms below
    int bits;     // 8 or 16
};

// Reads the header and sets up the transforms that leave grey or RGB
// samples of 8 or 16 bits. Only trivially destructible locals: libpng may
// jump out of any call here.
bool pngReadLayout(png_structp png, png_infop info, PngLayout* layout)
{
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    // Our own limit, before the header is read: libpng then refuses a huge
    // declared size at once instead of the tool finding out afterwards.
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);
    const png_byte colourType = png_get_color_type(png, info);
    const png_byte depth = png_get_bit_depth(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if ((colourType & PNG_COLOR_MASK_ALPHA) != 0) {
        png_set_strip_alpha(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    layout->channels = png_get_channels(png, info);
    layout->bits = png_get_bit_depth(png, info);
    return true;
}

bool pngReadRows(png_structp png, png_infop info, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

uint16_t luma(uint32_t r, uint32_t g, uint32_t b)
{
    return static_cast<uint16_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

bool decodePng(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error)
{
    PngSource source{bytes.data(), bytes.size(), 0, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, pngOnError, pngOnWarning);
    if (png == nullptr) {
        error = "cannot start the PNG decoder";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "cannot start the PNG decoder";
        return false;
    }
    png_set_read_fn(png, &source, pngOnRead);
    bool ok = false;
    PngLayout layout{};
    if (!pngReadLayout(png, info, &layout)) {
        error = std::string("bad PNG: ") + source.message;
    } else if (layout.width == 0 || layout.height == 0) {
        error = "bad PNG: zero-size image";
    } else if (static_cast<int64_t>(layout.width) * layout.height > kMaxPixels) {
        error = "image too large (" + std::to_string(layout.width) + "x" + std::to_string(layout.height) + ")";
    } else if ((layout.channels != 1 && layout.channels != 3) || (layout.bits != 8 && layout.bits != 16)) {
        error = "unsupported PNG layout (" + std::to_string(layout.channels) + " channels of " +
                std::to_string(layout.bits) + " bits)";
    } else if (static_cast<double>(png_get_rowbytes(png, info)) * layout.height > 1100.0 * static_cast<double>(bytes.size())) {
        // Deflate packs at most about 1032:1, so the file cannot hold these pixels.
        error = "bad PNG: file is truncated (too small for " + std::to_string(layout.width) + "x" +
                std::to_string(layout.height) + " pixels)";
    } else {
        const size_t rowBytes = png_get_rowbytes(png, info);
        std::vector<uint8_t> buffer(rowBytes * layout.height);
        std::vector<png_bytep> rows(layout.height);
        for (uint32_t y = 0; y < layout.height; ++y) {
            rows[y] = buffer.data() + rowBytes * y;
        }
        if (!pngReadRows(png, info, rows.data())) {
            error = std::string("bad PNG: ") + source.message;
        } else {
            out.width = static_cast<int32_t>(layout.width);
            out.height = static_cast<int32_t>(layout.height);
            out.bits = layout.bits;
            out.pixels.assign(static_cast<size_t>(layout.width) * layout.height, 0);
            const int bytesPerSample = layout.bits / 8;
            for (uint32_t y = 0; y < layout.height; ++y) {
                const uint8_t* row = rows[y];
                for (uint32_t x = 0; x < layout.width; ++x) {
                    uint32_t s[3] = {0, 0, 0};
                    for (int c = 0; c < layout.channels; ++c) {
                        const uint8_t* p = row + (static_cast<size_t>(x) * layout.channels + c) * bytesPerSample;
                        s[c] = bytesPerSample == 2 ? (uint32_t{p[0]} << 8) | p[1] : p[0];
                    }
                    out.pixels[static_cast<size_t>(y) * layout.width + x] =
                        layout.channels == 1 ? static_cast<uint16_t>(s[0]) : luma(s[0], s[1], s[2]);
                }
            }
            ok = true;
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

// ---- PGM reading ----------------------------------------------------------

class PgmParser {
public:
    explicit PgmParser(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    bool parse(GreyImage& out, std::string& error)
    {
        const bool plain = bytes_[1] == '2';
        pos_ = 2;
        uint64_t width = 0, height = 0, maxval = 0;
        if (!number(width, "width", error) || !number(height, "height", error) || !number(maxval, "maxval", error)) {
            return false;
        }
        if (width == 0 || height == 0) {
            error = "bad PGM: zero-size image";
            return false;
        }
        if (maxval == 0 || maxval > 65535) {
            error = "bad PGM: maxval " + std::to_string(maxval) + " is not in 1..65535";
            return false;
        }
        if (width > kMaxSide || height > kMaxSide || static_cast<int64_t>(width * height) > kMaxPixels) {
            error = "image too large (" + std::to_string(width) + "x" + std::to_string(height) + ")";
            return false;
        }
        const size_t count = static_cast<size_t>(width * height);
        // Each sample takes at least 1 or 2 bytes (binary) or a digit and a
        // separator (plain); a shorter file cannot hold them.
        const size_t sampleBytes = maxval > 255 ? 2 : 1;
        const size_t left = bytes_.size() - pos_;
        if ((plain && left / 2 + 1 < count) || (!plain && (left - (left > 0 ? 1 : 0)) / sampleBytes < count)) {
            error = "bad PGM: file is truncated (" + std::to_string(count) + " samples expected)";
            return false;
        }
        out.width = static_cast<int32_t>(width);
        out.height = static_cast<int32_t>(height);
        out.bits = maxval > 255 ? 16 : 8;
        out.pixels.assign(count, 0);
        if (plain) {
            for (size_t i = 0; i < count; ++i) {
                uint64_t v = 0;
                if (!number(v, "sample", error)) {
                    return false;
                }
                if (v > maxval) {
                    error = "bad PGM: sample " + std::to_string(v) + " exceeds maxval " + std::to_string(maxval);
                    return false;
                }
                out.pixels[i] = static_cast<uint16_t>(v);
            }
            return true;
        }
        // Exactly one whitespace character separates maxval from the samples.
        if (pos_ >= bytes_.size() || std::isspace(bytes_[pos_]) == 0) {
            error = "bad PGM: no pixel data";
            return false;
        }
        ++pos_;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* p = bytes_.data() + pos_ + i * sampleBytes;
            const uint32_t v = sampleBytes == 2 ? (uint32_t{p[0]} << 8) | p[1] : p[0];
            if (v > maxval) {
                error = "bad PGM: sample " + std::to_string(v) + " exceeds maxval " + std::to_string(maxval);
                return false;
            }
            out.pixels[i] = static_cast<uint16_t>(v);
        }
        return true;
    }

private:
    // Skips whitespace and comments, then reads one decimal number.
    bool number(uint64_t& value, const char* what, std::string& error)
    {
        while (pos_ < bytes_.size()) {
            if (bytes_[pos_] == '#') {
                while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') {
                    ++pos_;
                }
            } else if (std::isspace(bytes_[pos_]) != 0) {
                ++pos_;
            } else {
                break;
            }
        }
        if (pos_ >= bytes_.size() || std::isdigit(bytes_[pos_]) == 0) {
            error = std::string("bad PGM: ") + (pos_ >= bytes_.size() ? "file ends before the " : "no number for the ") +
                    what;
            return false;
        }
        value = 0;
        while (pos_ < bytes_.size() && std::isdigit(bytes_[pos_]) != 0) {
            value = value * 10 + static_cast<uint64_t>(bytes_[pos_] - '0');
            if (value > 0xffffffffu) {
                error = std::string("bad PGM: ") + what + " is too large";
                return false;
            }
            ++pos_;
        }
        return true;
    }

    const std::vector<uint8_t>& bytes_;
    size_t pos_ = 0;
};

// ---- PNG writing ----------------------------------------------------------

struct PngSink {
    char message[256];
};

extern "C" void pngOnWriteError(png_structp png, png_const_charp message)
{
    auto* sink = static_cast<PngSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

bool pngWriteAll(png_structp png, png_infop info, FILE* file, uint32_t width, uint32_t height, int colourType,
                 png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

bool writePng(const std::string& path, int32_t width, int32_t height, int colourType, int channels,
              const uint8_t* pixels, std::string& error)
{
    if (width <= 0 || height <= 0) {
        error = path + ": cannot write an empty image";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    PngSink sink{};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, pngOnWriteError, pngOnWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = false;
    if (info != nullptr) {
        std::vector<png_bytep> rows(static_cast<size_t>(height));
        for (int32_t y = 0; y < height; ++y) {
            rows[static_cast<size_t>(y)] =
                const_cast<png_bytep>(pixels + static_cast<size_t>(y) * static_cast<size_t>(width) * channels);
        }
        ok = pngWriteAll(png, info, file, static_cast<uint32_t>(width), static_cast<uint32_t>(height), colourType,
                         rows.data());
        if (!ok) {
            error = path + ": " + sink.message;
        }
    } else {
        error = path + ": cannot start the PNG encoder";
    }
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0 && ok) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

} // namespace

bool decodeImage(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error)
{
    out = GreyImage{};
    if (bytes.empty()) {
        error = "empty file";
        return false;
    }
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0) {
        return decodePng(bytes, out, error);
    }
    if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '5' || bytes[1] == '2')) {
        return PgmParser(bytes).parse(out, error);
    }
    if (looksLikeJpeg(bytes)) {
        return decodeJpeg(bytes, out, error);
    }
    if (looksLikeTiff(bytes)) {
        return decodeTiff(bytes, out, error);
    }
    error = "not a PNG, PGM, JPEG or TIFF file";
    return false;
}

bool readImageFile(const std::string& path, GreyImage& out, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    // One read of the whole file where its size is known (a character at a
    // time through the stream buffer costs more than decoding a small line).
    std::vector<uint8_t> bytes;
    const std::streamoff size = in.seekg(0, std::ios::end).tellg();
    if (size >= 0 && in.seekg(0, std::ios::beg)) {
        bytes.resize(static_cast<size_t>(size));
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
        bytes.resize(static_cast<size_t>(in.gcount()));
    } else {
        in.clear();
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (in.bad()) {
        error = "read error";
        return false;
    }
    return decodeImage(bytes, out, error);
}

bool writePngGrey8(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& pixels,
                   std::string& error)
{
    return writePng(path, width, height, PNG_COLOR_TYPE_GRAY, 1, pixels.data(), error);
}

bool writePngRgb(const std::string& path, const RgbImage& image, std::string& error)
{
    return writePng(path, image.width, image.height, PNG_COLOR_TYPE_RGB, 3, image.rgb.data(), error);
}

} // namespace kocseg
