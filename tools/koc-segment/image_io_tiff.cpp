// image_io_tiff.cpp: TIFF through libtiff, from memory. The first page
// (directory) is read. Grey and RGB of 8 or 16 bits per sample, stored in
// strips with the samples of a pixel together, are read row by row and keep
// their depth (16-bit colour becomes 16-bit grey); every other layout
// libtiff understands (palette, bilevel, YCbCr, CMYK, tiles, separate
// planes, ...) goes through its RGBA reader and becomes 8-bit grey. libtiff
// reports problems through the handlers given at open time, per file, so
// images read on several threads keep their own messages.
#include "image_decoders.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <tiffio.h>

namespace kocseg {

namespace {

struct TiffSource {
    const std::vector<uint8_t>* bytes;
    toff_t pos;
    std::string message; // the first error libtiff reported
};

extern "C" tmsize_t tiffRead(thandle_t handle, void* out, tmsize_t size)
{
    auto* source = static_cast<TiffSource*>(handle);
    const toff_t total = source->bytes->size();
    if (size <= 0 || source->pos >= total) {
        return 0;
    }
    const toff_t n = std::min<toff_t>(static_cast<toff_t>(size), total - source->pos);
    std::memcpy(out, source->bytes->data() + source->pos, n);
    source->pos += n;
    return static_cast<tmsize_t>(n);
}

extern "C" tmsize_t tiffWrite(thandle_t, void*, tmsize_t)
{
    return 0;
}

extern "C" toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto* source = static_cast<TiffSource*>(handle);
    const toff_t total = source->bytes->size();
    toff_t base = 0;
    if (whence == SEEK_CUR) {
        base = source->pos;
    } else if (whence == SEEK_END) {
        base = total;
    }
    // Offsets arrive as unsigned 64-bit; a negative move wraps around.
    const toff_t target = base + offset;
    if (target > total && whence != SEEK_SET) {
        return static_cast<toff_t>(-1);
    }
    source->pos = target;
    return target;
}

extern "C" int tiffClose(thandle_t)
{
    return 0;
}

extern "C" toff_t tiffSize(thandle_t handle)
{
    return static_cast<TiffSource*>(handle)->bytes->size();
}

// The bytes are in memory already: "mapping" hands libtiff the buffer.
// (Its unmapped read path also refuses some valid tiled files.)
extern "C" int tiffMap(thandle_t handle, void** base, toff_t* size)
{
    auto* source = static_cast<TiffSource*>(handle);
    *base = const_cast<uint8_t*>(source->bytes->data());
    *size = source->bytes->size();
    return 1;
}

extern "C" void tiffUnmap(thandle_t, void*, toff_t) {}

extern "C" int tiffOnError(TIFF*, void* user, const char* module, const char* format, va_list args)
{
    auto* source = static_cast<TiffSource*>(user);
    if (source->message.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        source->message = module != nullptr && module[0] != '\0' ? std::string(module) + ": " + text : text;
    }
    return 1; // handled: libtiff's process-wide handler stays silent
}

extern "C" int tiffOnWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1; // unknown tags and the like: nothing the reader needs
}

// libtiff's own allocations are capped too, so a hostile header cannot make
// it ask for gigabytes.
constexpr tmsize_t kTiffAllocLimit = tmsize_t{512} << 20;

uint16_t lumaOf(uint32_t r, uint32_t g, uint32_t b)
{
    return static_cast<uint16_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

struct Layout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t samples = 0;
    uint16_t photometric = 0;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
};

// Grey (with or without alpha) or RGB (with or without alpha), 8 or 16 bits
// of unsigned samples, in strips, samples together: read row by row.
bool isDirectLayout(TIFF* tiff, const Layout& l)
{
    const bool grey = (l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE) &&
                      l.samples >= 1 && l.samples <= 2;
    const bool rgb = l.photometric == PHOTOMETRIC_RGB && l.samples >= 3 && l.samples <= 4;
    return (grey || rgb) && (l.bits == 8 || l.bits == 16) && l.sampleFormat == SAMPLEFORMAT_UINT &&
           (l.planar == PLANARCONFIG_CONTIG || l.samples == 1) && TIFFIsTiled(tiff) == 0;
}

bool readDirect(TIFF* tiff, const Layout& l, GreyImage& out, std::string& error)
{
    const tmsize_t rowBytes = TIFFScanlineSize(tiff);
    const size_t bytesPerSample = l.bits / 8;
    if (rowBytes < static_cast<tmsize_t>(static_cast<size_t>(l.width) * l.samples * bytesPerSample)) {
        error = "bad TIFF: rows shorter than the image width";
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    out.width = static_cast<int32_t>(l.width);
    out.height = static_cast<int32_t>(l.height);
    out.bits = l.bits;
    const uint32_t maxValue = l.bits == 16 ? 65535 : 255;
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
    // Rows are appended as they are decoded, so a truncated file costs no
    // more memory than the pixels it held.
    for (uint32_t y = 0; y < l.height; ++y) {
        if (TIFFReadScanline(tiff, row.data(), y, 0) < 0) {
            return false;
        }
        for (uint32_t x = 0; x < l.width; ++x) {
            uint32_t s[3] = {0, 0, 0};
            const int channels = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
            for (int c = 0; c < channels; ++c) {
                const uint8_t* p = row.data() + (static_cast<size_t>(x) * l.samples + static_cast<size_t>(c)) * bytesPerSample;
                uint16_t v = p[0];
                if (bytesPerSample == 2) {
                    std::memcpy(&v, p, 2); // libtiff hands samples over in the host's byte order
                }
                s[c] = v;
            }
            uint32_t v = channels == 1 ? s[0] : lumaOf(s[0], s[1], s[2]);
            out.pixels.push_back(static_cast<uint16_t>(invert ? maxValue - v : v));
        }
    }
    return true;
}

bool readThroughRgba(TIFF* tiff, const Layout& l, size_t fileSize, GreyImage& out, std::string& error)
{
    // The RGBA reader needs the whole picture at once. No compression libtiff
    // offers packs more than a few thousand pixels into a byte in practice;
    // a header promising more is a broken or hostile file.
    if (static_cast<double>(l.width) * l.height > 4096.0 * static_cast<double>(fileSize)) {
        error = "bad TIFF: file is truncated (too small for " + std::to_string(l.width) + "x" +
                std::to_string(l.height) + " pixels)";
        return false;
    }
    std::vector<uint32_t> rgba(static_cast<size_t>(l.width) * l.height);
    char reason[1024] = {};
    if (TIFFRGBAImageOK(tiff, reason) == 0) {
        error = std::string("unsupported TIFF layout (") + reason + ")";
        return false;
    }
    if (TIFFReadRGBAImageOriented(tiff, l.width, l.height, rgba.data(), ORIENTATION_TOPLEFT, 1) == 0) {
        return false;
    }
    out.width = static_cast<int32_t>(l.width);
    out.height = static_cast<int32_t>(l.height);
    out.bits = 8;
    out.pixels.resize(rgba.size());
    for (size_t i = 0; i < rgba.size(); ++i) {
        out.pixels[i] = lumaOf(TIFFGetR(rgba[i]), TIFFGetG(rgba[i]), TIFFGetB(rgba[i]));
    }
    return true;
}

struct TiffCloser {
    TIFF* tiff;
    ~TiffCloser()
    {
        if (tiff != nullptr) {
            TIFFClose(tiff);
        }
    }
};

struct OptionsFreer {
    TIFFOpenOptions* options;
    ~OptionsFreer() { TIFFOpenOptionsFree(options); }
};

} // namespace

bool looksLikeTiff(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 4) {
        return false;
    }
    const bool little = bytes[0] == 'I' && bytes[1] == 'I' && (bytes[2] == 42 || bytes[2] == 43) && bytes[3] == 0;
    const bool big = bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43);
    return little || big;
}

bool decodeTiff(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error)
{
    TiffSource source{&bytes, 0, {}};
    OptionsFreer options{TIFFOpenOptionsAlloc()};
    if (options.options == nullptr) {
        error = "cannot start the TIFF decoder";
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.options, tiffOnError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(options.options, tiffOnWarning, &source);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.options, kTiffAllocLimit);
    TiffCloser tiff{TIFFClientOpenExt("image", "r", &source, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize,
                                      tiffMap, tiffUnmap, options.options)};
    const auto fail = [&](const std::string& fallback) {
        out = GreyImage{};
        error = source.message.empty() ? fallback : "bad TIFF: " + source.message;
        return false;
    };
    if (tiff.tiff == nullptr) {
        return fail("bad TIFF: cannot read the header");
    }
    Layout l;
    TIFFGetField(tiff.tiff, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tiff.tiff, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tiff.tiff, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tiff.tiff, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tiff.tiff, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tiff.tiff, TIFFTAG_SAMPLEFORMAT, &l.sampleFormat);
    if (TIFFGetField(tiff.tiff, TIFFTAG_PHOTOMETRIC, &l.photometric) == 0) {
        // Missing in some writers' grey files; libtiff's RGBA reader guesses the same way.
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    if (l.width == 0 || l.height == 0) {
        return fail("bad TIFF: zero-size image");
    }
    if (l.width > kMaxSide || l.height > kMaxSide || static_cast<int64_t>(l.width) * l.height > kMaxPixels) {
        out = GreyImage{};
        error = "image too large (" + std::to_string(l.width) + "x" + std::to_string(l.height) + ")";
        return false;
    }
    if (l.sampleFormat != SAMPLEFORMAT_UINT) {
        out = GreyImage{};
        error = "unsupported TIFF layout (samples are not unsigned integers)";
        return false;
    }
    const bool ok = isDirectLayout(tiff.tiff, l) ? readDirect(tiff.tiff, l, out, error)
                                                 : readThroughRgba(tiff.tiff, l, bytes.size(), out, error);
    if (!ok && error.empty()) {
        return fail("bad TIFF: cannot read the pixels");
    }
    if (!ok) {
        out = GreyImage{};
    }
    return ok;
}

} // namespace kocseg
