// params_fuzz.cpp: koc-segment's --params reader on arbitrary text.
#include <string>

#include "koc-segment/params_json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    std::string error;
    kocseg::applyParamsText(std::string(reinterpret_cast<const char*>(data), size), params, error);
    koc_charSegmentRunParams_destruct(&params);
    return 0;
}
