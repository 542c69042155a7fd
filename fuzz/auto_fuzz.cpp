// auto_fuzz.cpp: the auto road's three entry points (8-bit, 16-bit, range
// image) on an image, a rectangle, a base record whose every field comes
// from the bytes, pinned fields, given extensions (valid or not) and each
// optional output present or absent. Beyond not crashing, every call must
// keep the road's promises: a failure leaves nothing looking computed; a
// success reports a valid record, keeps what the caller pinned, and its
// paragraph is exactly what the extension entry point gives with the
// reported record and extensions.
#include <cstdlib>
#include <cstring>

#include "image_source.hpp"
#include "params_source.hpp"

namespace {

void require(bool promise)
{
    if (!promise) {
        std::abort();
    }
}

template <class T>
bool sameBits(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool sameField(const koc_charSegmentRunParams& a, const koc_charSegmentRunParams& b, const koc::ParamField& f)
{
    const void* x = f.slot(const_cast<koc_charSegmentRunParams&>(a));
    const void* y = f.slot(const_cast<koc_charSegmentRunParams&>(b));
    return std::memcmp(x, y, f.kind == koc::FieldKind::Double ? sizeof(double) : sizeof(int32_t)) == 0;
}

// Lines found, positions and their rectangles, bit for bit.
bool sameParagraph(const koc_charSegmentParagraphResult& a, const koc_charSegmentParagraphResult& b)
{
    const koc_charSegmentLineResult *la = nullptr, *lb = nullptr;
    int32_t na = 0, nb = 0;
    kstd_vector_koc_charSegmentLineResult_getBeginSizeConst(&a.lineResults, &la, &na);
    kstd_vector_koc_charSegmentLineResult_getBeginSizeConst(&b.lineResults, &lb, &nb);
    if (na != nb) {
        return false;
    }
    for (int32_t j = 0; j < na; ++j) {
        const koc_charSegmentPositionResult *pa = nullptr, *pb = nullptr;
        int32_t ma = 0, mb = 0;
        kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&la[j].positionResults, &pa, &ma);
        kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&lb[j].positionResults, &pb, &mb);
        if (la[j].isFound != lb[j].isFound || ma != mb || la[j].polarity != lb[j].polarity) {
            return false;
        }
        for (int32_t i = 0; i < ma; ++i) {
            if (pa[i].isSpace != pb[i].isSpace || pa[i].area != pb[i].area || pa[i].spaceScore != pb[i].spaceScore ||
                !sameBits(pa[i].markRect, pb[i].markRect) || !sameBits(pa[i].cellRect, pb[i].cellRect)) {
                return false;
            }
        }
    }
    return true;
}

// Pinned fields: none, all, or bits from the bytes (the ones past the
// record's last field included).
uint64_t decodePinned(fuzz::Bytes& in)
{
    switch (in.u8() % 4) {
    case 0: return 0;
    case 1: return ~UINT64_C(0);
    default: return in.u32() | (static_cast<uint64_t>(in.u32()) << 32);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Bytes in(data, size);
    fuzz::Subject subject;
    if (!fuzz::decodeSubject(in, subject)) {
        return 0;
    }
    const uint8_t kind = subject.kind;
    const int32_t width = subject.width, height = subject.height;
    fuzz::OwnedImage& image = subject.image;
    const kmath_shapeAffineRect rect = fuzz::decodeRect(in, width, height);
    koc_charSegmentRunParams base;
    koc_charSegmentRunParams_construct(&base);
    fuzz::decodeParams(in, base);
    const uint64_t pinned = decodePinned(in);
    // Extensions: none, or a record whose switches may be out of range;
    // given bits may name no field.
    const bool hasExt = in.u8() % 4 != 0;
    koc_charSegmentExtensions ext;
    koc_charSegmentExtensions_construct(&ext);
    ext.splitTouchingGlyphs = static_cast<uint32_t>(in.range(0, 2));
    ext.walkNodeBudget = in.u8() % 8 == 0 ? static_cast<int32_t>(in.u32()) : in.range(-1, 300);
    ext.bandAwareElements = static_cast<uint32_t>(in.range(0, 2));
    const uint32_t given = in.u8() % 16;
    const uint8_t outputs = in.u8();
    const bool wantLine = outputs % 2 == 1, wantReport = outputs % 8 != 0;

    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    if (kind == 2) {
        if (!fuzz::decodeRangeMask(in, subject, &range)) {
            k3img_rangeImage16_destruct(&range);
            koc_charSegmentExtensions_destruct(&ext);
            koc_charSegmentRunParams_destruct(&base);
            return 0;
        }
    }

    koc_lineExtractResult line;
    koc_lineExtractResult_construct(&line);
    koc_charSegmentParagraphResult result, again;
    koc_charSegmentParagraphResult_construct(&result);
    koc_charSegmentParagraphResult_construct(&again);
    koc_autoSegmentReport report;
    koc_autoSegmentReport_construct(&report);
    koc_lineExtractResult* linePtr = wantLine ? &line : nullptr;
    koc_autoSegmentReport* reportPtr = wantReport ? &report : nullptr;
    const koc_charSegmentExtensions* extPtr = hasExt ? &ext : nullptr;

    int32_t rc = 0;
    if (kind == 0) {
        rc = koc_segmentCharactersParagraphAuto8(&image.image, &rect, &base, pinned, extPtr, given, linePtr, &result,
                                                 reportPtr);
    } else if (kind == 1) {
        rc = koc_segmentCharactersParagraphAuto16(&image.image, &rect, &base, pinned, extPtr, given, linePtr, &result,
                                                  reportPtr);
    } else {
        rc = koc_segmentCharactersParagraphRangeImageAuto16(&range, &rect, &base, pinned, extPtr, given, linePtr,
                                                            &result, reportPtr);
    }

    if (rc < 0) {
        require(result.isComputed == 0);
        require(line.isLineFound == 0 && line.isLineImageValid == 0 && line.isNormalizedImageValid == 0);
        require(report.isComputed == 0);
    } else {
        require(result.isComputed != 0);
        if (wantReport) {
            require(report.isComputed != 0);
            require(koc_charSegmentRunParams_validate(&report.params) == 0);
            require(koc_charSegmentExtensions_validate(&report.extensions) == 0);
            // What the caller gave stays as given: every pinned field when
            // something was measured, the whole record when nothing was.
            const koc_charSegmentExtensions off{};
            const koc_charSegmentExtensions& asGiven = hasExt ? ext : off;
            const bool measured = report.estimateCode == 0;
            require(measured || report.estimateCode == KOC_E_NO_INK);
            require(measured == (report.estimate.isComputed != 0));
            for (const koc::ParamField& f : koc::paramFields()) {
                const bool kept = !measured || (pinned & f.pin) != 0;
                require(!kept || sameField(report.params, base, f));
            }
            const bool split = (given & KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS) != 0 || !measured;
            const bool budget = (given & KOC_PIN_EXT_WALK_NODE_BUDGET) != 0 || !measured;
            const bool band = (given & KOC_PIN_EXT_BAND_AWARE_ELEMENTS) != 0 || !measured;
            require(!split || report.extensions.splitTouchingGlyphs == asGiven.splitTouchingGlyphs);
            require(!budget || report.extensions.walkNodeBudget == asGiven.walkNodeBudget);
            require(!band || report.extensions.bandAwareElements == asGiven.bandAwareElements);
            require(report.isSplitRetried == 0 || (measured && !split && report.extensions.splitTouchingGlyphs != 0));

            // The paragraph is the extension entry point's with what was reported.
            int32_t replayed = 0;
            if (kind == 0) {
                replayed = koc_segmentCharactersParagraphExt8(&image.image, &rect, &report.params, &report.extensions,
                                                              &again);
            } else if (kind == 1) {
                replayed = koc_segmentCharactersParagraphExt16(&image.image, &rect, &report.params,
                                                               &report.extensions, &again);
            } else {
                replayed = koc_segmentCharactersParagraphRangeImageExt16(&range, &rect, &report.params,
                                                                         &report.extensions, &again);
            }
            require(replayed >= 0 && sameParagraph(result, again));
        }
    }

    koc_autoSegmentReport_destruct(&report);
    koc_charSegmentParagraphResult_destruct(&again);
    koc_charSegmentParagraphResult_destruct(&result);
    koc_lineExtractResult_destruct(&line);
    k3img_rangeImage16_destruct(&range);
    koc_charSegmentExtensions_destruct(&ext);
    koc_charSegmentRunParams_destruct(&base);
    return 0;
}
