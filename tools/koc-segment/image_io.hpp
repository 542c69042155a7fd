// image_io.hpp: grey images in memory, reading PNG and PGM files, writing
// PNG files. Nothing here throws for a bad file: every reader reports a
// readable reason instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kocseg {

// A grey image of 8-bit or 16-bit pixels, rows stored top to bottom without
// padding (8-bit values are held in 16-bit cells too).
struct GreyImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 8; // 8 or 16
    std::vector<uint16_t> pixels;

    uint16_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// An 8-bit RGB picture, for overlays.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // 3 bytes per pixel

    void set(int32_t x, int32_t y, const uint8_t colour[3])
    {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return;
        }
        uint8_t* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
        p[0] = colour[0];
        p[1] = colour[1];
        p[2] = colour[2];
    }
};

// The largest image the tool accepts, in pixels.
constexpr int64_t kMaxPixels = int64_t{1} << 28;
// Either side of an image the tool reads, in pixels.
constexpr uint32_t kMaxSide = 1u << 16;

// Reads a PNG (grey, grey+alpha, palette or colour, any bit depth), a PGM
// (binary P5 or plain P2, maxval up to 65535), a JPEG (grey or colour; 8
// bits) or a TIFF (first page; 8- or 16-bit grey or colour kept as read,
// any other layout libtiff knows as 8-bit) file; the format is told by the
// file's first bytes, not its name. Colour becomes grey by the luma
// weights 0.299 R + 0.587 G + 0.114 B; alpha is dropped; grey depths below
// 8 bits are widened to 8. A PNG, PGM or TIFF of 16-bit samples (PGM: maxval
// above 255) gives a 16-bit image, anything else an 8-bit one. TIFF grey
// stored white-is-zero is turned around. Otherwise values are kept as
// stored (no gamma, no rescaling to maxval). On failure returns false with
// the reason in error.
bool readImageFile(const std::string& path, GreyImage& out, std::string& error);

// The same for file contents already in memory.
bool decodeImage(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error);

// Writes an 8-bit grey or RGB PNG; false with the reason on failure.
bool writePngGrey8(const std::string& path, int32_t width, int32_t height, const std::vector<uint8_t>& pixels,
                   std::string& error);
bool writePngRgb(const std::string& path, const RgbImage& image, std::string& error);

} // namespace kocseg
