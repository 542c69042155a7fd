// image_io_jpeg.cpp: JPEG through libjpeg. libjpeg reports a fatal error
// by calling error_exit, which by default ends the process; ours jumps back
// instead, so the functions it can jump out of hold only trivially
// destructible locals. Its warnings about damaged or missing pixel data (a
// truncated file among them, which it would otherwise finish in flat grey)
// are treated as errors too: a half-decoded picture would give a silently
// wrong answer.
#include "image_decoders.hpp"

#include <cstddef>
#include <cstdio>
#include <csetjmp>

#include <jpeglib.h>
// after jpeglib.h, which it needs
#include <jerror.h>

namespace kocseg {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager; // first, so libjpeg's pointer to it is ours too
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jpegOnError(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->manager.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Level -1 is a warning; higher levels are trace messages. Warnings about
// the pixel data (missing or damaged) end the decoding; those about
// stray bytes between segments or unknown header values, which many
// cameras' files carry without harm, do not.
extern "C" void jpegOnMessage(j_common_ptr info, int level)
{
    if (level >= 0) {
        return;
    }
    switch (info->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        return;
    default:
        jpegOnError(info);
    }
}

// Memory libjpeg may take for its own buffers (a progressive file keeps all
// its coefficients): enough for the largest image the tool accepts in grey,
// refused beyond that instead of swapping.
constexpr long kJpegMemoryLimit = 1L << 30;

// Reads the header and checks the size; true when the rows can be read.
bool jpegStart(jpeg_decompress_struct* info, JpegErrors* errors, const std::vector<uint8_t>& bytes, char* reason,
               size_t reasonSize)
{
    if (setjmp(errors->jump) != 0) {
        std::snprintf(reason, reasonSize, "bad JPEG: %s", errors->message);
        return false;
    }
    jpeg_mem_src(info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(info, TRUE);
    if (info->image_width == 0 || info->image_height == 0) {
        std::snprintf(reason, reasonSize, "bad JPEG: zero-size image");
        return false;
    }
    if (info->image_width > kMaxSide || info->image_height > kMaxSide ||
        static_cast<int64_t>(info->image_width) * info->image_height > kMaxPixels) {
        std::snprintf(reason, reasonSize, "image too large (%ux%u)", info->image_width, info->image_height);
        return false;
    }
    // Every 8x8 block codes at least one bit (its DC difference), so a file
    // holds at most 512 pixels per byte; a header promising more belongs to
    // a truncated or broken file, refused before libjpeg sets up buffers
    // for the whole picture (as it does for progressive files).
    if (static_cast<double>(info->image_width) * info->image_height > 1024.0 * static_cast<double>(bytes.size())) {
        std::snprintf(reason, reasonSize, "bad JPEG: file is truncated (too small for %ux%u pixels)", info->image_width,
                      info->image_height);
        return false;
    }
    if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK) {
        std::snprintf(reason, reasonSize, "unsupported JPEG colour space (CMYK)");
        return false;
    }
    // Grey straight from the decoder: from YCbCr that is the Y channel,
    // the same 0.299/0.587/0.114 weights the other readers use.
    info->out_color_space = JCS_GRAYSCALE;
    info->mem->max_memory_to_use = kJpegMemoryLimit;
    jpeg_start_decompress(info);
    return true;
}

// Rows are appended as they are decoded, so a file that ends early has
// cost no more memory than the pixels it held.
bool jpegReadRows(jpeg_decompress_struct* info, JpegErrors* errors, std::vector<uint16_t>* pixels, uint8_t* row,
                  char* reason, size_t reasonSize)
{
    if (setjmp(errors->jump) != 0) {
        std::snprintf(reason, reasonSize, "bad JPEG: %s", errors->message);
        return false;
    }
    while (info->output_scanline < info->output_height) {
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(info, rows, 1) != 1) {
            std::snprintf(reason, reasonSize, "bad JPEG: file is truncated");
            return false;
        }
        pixels->insert(pixels->end(), row, row + info->output_width);
    }
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

bool looksLikeJpeg(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff;
}

bool decodeJpeg(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error)
{
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegOnError;
    errors.manager.emit_message = jpegOnMessage;
    char reason[JMSG_LENGTH_MAX + 64] = {};
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        error = std::string("cannot start the JPEG decoder: ") + errors.message;
        return false;
    }
    jpeg_create_decompress(&info);
    bool ok = jpegStart(&info, &errors, bytes, reason, sizeof reason);
    if (ok) {
        std::vector<uint8_t> row(info.output_width);
        out.width = static_cast<int32_t>(info.output_width);
        out.height = static_cast<int32_t>(info.output_height);
        out.bits = 8;
        ok = jpegReadRows(&info, &errors, &out.pixels, row.data(), reason, sizeof reason);
    }
    jpeg_destroy_decompress(&info);
    if (!ok) {
        out = GreyImage{};
        error = reason;
    }
    return ok;
}

} // namespace kocseg
