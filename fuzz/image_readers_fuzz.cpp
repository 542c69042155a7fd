// image_readers_fuzz.cpp: koc-segment's image readers (PNG, PGM, JPEG,
// TIFF: whatever decodeImage dispatches to by the first bytes).
#include <vector>

#include "koc-segment/image_io.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> bytes(data, data + size);
    kocseg::GreyImage image;
    std::string error;
    kocseg::decodeImage(bytes, image, error);
    return 0;
}
