// image_decoders.hpp: the decoders decodeImage dispatches to by a file's
// first bytes (image_io_jpeg.cpp, image_io_tiff.cpp). Same contract as
// decodeImage: false with a readable reason, never a throw for a bad file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image_io.hpp"

namespace kocseg {

bool looksLikeJpeg(const std::vector<uint8_t>& bytes);
bool decodeJpeg(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error);

bool looksLikeTiff(const std::vector<uint8_t>& bytes);
bool decodeTiff(const std::vector<uint8_t>& bytes, GreyImage& out, std::string& error);

} // namespace kocseg
