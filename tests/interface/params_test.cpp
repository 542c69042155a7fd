// params_test.cpp: run-parameter defaults, every validation rule at its
// boundary, the rule order, and equality with NaN.
#include <cmath>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "koc/koc.h"

namespace {

struct Params {
    Params() { EXPECT_EQ(0, koc_charSegmentRunParams_construct(&p)); }
    ~Params() { koc_charSegmentRunParams_destruct(&p); }
    koc_charSegmentRunParams p;
};

using Edit = std::function<void(koc_charSegmentRunParams&)>;

// One rule: a value just inside the valid range passes, one just outside
// fails with the rule's code.
struct Rule {
    const char* name;
    Edit inside;
    Edit outside;
    int32_t code;
};

void PrintTo(const Rule& r, std::ostream* os) { *os << r.name; }

const double kNaN = std::numeric_limits<double>::quiet_NaN();

const Rule kRules[] = {
    {"numLines", [](auto& p) { p.numLines = 1; }, [](auto& p) { p.numLines = 0; }, KOC_E_NUM_LINES},
    {"polarity", [](auto& p) { p.polarity = 2; }, [](auto& p) { p.polarity = 3; }, KOC_E_POLARITY},
    {"maxLineAngle", [](auto& p) { p.maxLineAngle = 45.0; }, [](auto& p) { p.maxLineAngle = 45.000001; }, KOC_E_MAX_LINE_ANGLE},
    {"maxLineAngleNaN", [](auto& p) { p.maxLineAngle = 0.0; }, [](auto& p) { p.maxLineAngle = kNaN; }, KOC_E_MAX_LINE_ANGLE},
    {"maxLineAngleLow", [](auto& p) { p.maxLineAngle = 0.0; }, [](auto& p) { p.maxLineAngle = -1e-9; }, KOC_E_MAX_LINE_ANGLE},
    {"maxSkewAngle", [](auto& p) { p.maxSkewAngle = 45.0; }, [](auto& p) { p.maxSkewAngle = 45.000001; }, KOC_E_MAX_SKEW_ANGLE},
    {"normalizationMode", [](auto& p) { p.normalizationMode = 8; }, [](auto& p) { p.normalizationMode = 3; }, KOC_E_NORMALIZATION_MODE},
    {"thresholdFraction", [](auto& p) { p.thresholdFraction = 1.0; }, [](auto& p) { p.thresholdFraction = kNaN; }, KOC_E_THRESHOLD_FRACTION},
    {"minLineOverlap", [](auto& p) { p.minLineOverlap = 0.0; }, [](auto& p) { p.minLineOverlap = 1.0000001; }, KOC_E_MIN_LINE_OVERLAP},
    {"lineBandMargin", [](auto& p) { p.lineBandMargin = 0.0; }, [](auto& p) { p.lineBandMargin = -0.001; }, KOC_E_LINE_BAND_MARGIN},
    {"blobSizeLimit", [](auto& p) { p.blobSizeLimit = 1; }, [](auto& p) { p.blobSizeLimit = 0; }, KOC_E_BLOB_SIZE_LIMIT},
    {"refinementFraction", [](auto& p) { p.refinementFraction = 1.0; }, [](auto& p) { p.refinementFraction = 1.5; }, KOC_E_REFINEMENT_FRACTION},
    {"textHeightScale", [](auto& p) { p.textHeightScale = 0.0; }, [](auto& p) { p.textHeightScale = -1.0; }, KOC_E_TEXT_HEIGHT_SCALE},
    {"minCharArea", [](auto& p) { p.minCharArea = 1; }, [](auto& p) { p.minCharArea = 0; }, KOC_E_MIN_CHAR_AREA},
    {"minCharWidth", [](auto& p) { p.minCharWidth = 1; }, [](auto& p) { p.minCharWidth = 0; }, KOC_E_MIN_CHAR_WIDTH},
    {"maxCharWidth", [](auto& p) { p.maxCharWidth = 1; p.minCharWidth = 1; }, [](auto& p) { p.maxCharWidth = 0; }, KOC_E_MAX_CHAR_WIDTH},
    {"charWidthOrder",
     [](auto& p) { p.limitCharWidth = 1; p.minCharWidth = 100; p.maxCharWidth = 100; },
     [](auto& p) { p.limitCharWidth = 1; p.minCharWidth = 101; p.maxCharWidth = 100; }, KOC_E_CHAR_WIDTH_ORDER},
    {"charWidthOrderIgnoredWhenUnlimited",
     [](auto& p) { p.limitCharWidth = 0; p.minCharWidth = 200; p.maxCharWidth = 100; },
     [](auto& p) { p.limitCharWidth = 1; p.minCharWidth = 200; p.maxCharWidth = 100; }, KOC_E_CHAR_WIDTH_ORDER},
    {"minCharHeight", [](auto& p) { p.minCharHeight = 1; }, [](auto& p) { p.minCharHeight = 0; }, KOC_E_MIN_CHAR_HEIGHT},
    {"maxCharHeight", [](auto& p) { p.maxCharHeight = 1; p.minCharHeight = 1; }, [](auto& p) { p.maxCharHeight = 0; }, KOC_E_MAX_CHAR_HEIGHT},
    {"charHeightOrder",
     [](auto& p) { p.limitCharHeight = 1; p.minCharHeight = 50; p.maxCharHeight = 50; },
     [](auto& p) { p.limitCharHeight = 1; p.minCharHeight = 51; p.maxCharHeight = 50; }, KOC_E_CHAR_HEIGHT_ORDER},
    {"gapMode", [](auto& p) { p.gapMode = 4; }, [](auto& p) { p.gapMode = 3; }, KOC_E_GAP_MODE},
    {"maxInnerGap", [](auto& p) { p.maxInnerGap = 0; }, [](auto& p) { p.maxInnerGap = -1; }, KOC_E_MAX_INNER_GAP},
    {"minAspectRatio", [](auto& p) { p.minAspectRatio = 0.0; }, [](auto& p) { p.minAspectRatio = -0.1; }, KOC_E_MIN_ASPECT_RATIO},
    {"refinementMode", [](auto& p) { p.refinementMode = 4; }, [](auto& p) { p.refinementMode = 8; }, KOC_E_REFINEMENT_MODE},
    {"minCharGap", [](auto& p) { p.minCharGap = 0; }, [](auto& p) { p.minCharGap = -1; }, KOC_E_MIN_CHAR_GAP},
    {"segmentationMethod", [](auto& p) { p.segmentationMethod = 1; }, [](auto& p) { p.segmentationMethod = 0; }, KOC_E_SEGMENTATION_METHOD},
    {"pitchMeasure", [](auto& p) { p.pitchMeasure = 8; }, [](auto& p) { p.pitchMeasure = 16; }, KOC_E_PITCH_MEASURE},
    {"regularitySource", [](auto& p) { p.regularitySource = 8; }, [](auto& p) { p.regularitySource = 0; }, KOC_E_REGULARITY_SOURCE},
    {"minPitch", [](auto& p) { p.minPitch = 0; }, [](auto& p) { p.minPitch = -1; }, KOC_E_MIN_PITCH},
    {"useGradientMethod", [](auto& p) { p.useGradientMethod = 0; }, [](auto& p) { p.useGradientMethod = 2; }, KOC_E_USE_GRADIENT_METHOD},
    {"spaceInsertionMode", [](auto& p) { p.spaceParams.spaceInsertionMode = 2; }, [](auto& p) { p.spaceParams.spaceInsertionMode = 3; }, KOC_E_SPACE_INSERTION_MODE},
    {"scoreSpaces", [](auto& p) { p.spaceParams.scoreSpaces = 0; }, [](auto& p) { p.spaceParams.scoreSpaces = 2; }, KOC_E_SCORE_SPACES},
    {"minSpaceWidth", [](auto& p) { p.spaceParams.minSpaceWidth = 1; }, [](auto& p) { p.spaceParams.minSpaceWidth = 0; }, KOC_E_MIN_SPACE_WIDTH},
    {"maxSpaceWidth",
     [](auto& p) { p.spaceParams.maxSpaceWidth = 1; p.spaceParams.minSpaceWidth = 1; },
     [](auto& p) { p.spaceParams.maxSpaceWidth = 0; }, KOC_E_MAX_SPACE_WIDTH},
    {"spaceWidthOrder",
     [](auto& p) { p.spaceParams.minSpaceWidth = 10; p.spaceParams.maxSpaceWidth = 10; },
     [](auto& p) { p.spaceParams.minSpaceWidth = 10; p.spaceParams.maxSpaceWidth = 9; }, KOC_E_SPACE_WIDTH_ORDER},
    {"cellRectMode", [](auto& p) { p.cellRectParams.cellRectMode = 2; }, [](auto& p) { p.cellRectParams.cellRectMode = 3; }, KOC_E_CELL_RECT_MODE},
    {"cellRectMinMargin", [](auto& p) { p.cellRectParams.cellRectMinMargin = 0; }, [](auto& p) { p.cellRectParams.cellRectMinMargin = -1; }, KOC_E_CELL_RECT_MIN_MARGIN},
    {"cellRectMaxMargin",
     [](auto& p) { p.cellRectParams.cellRectMaxMargin = 0; p.cellRectParams.cellRectMinMargin = 0; },
     [](auto& p) { p.cellRectParams.cellRectMaxMargin = -1; }, KOC_E_CELL_RECT_MAX_MARGIN},
    {"cellRectMarginOrder",
     [](auto& p) { p.cellRectParams.cellRectMinMargin = 5; p.cellRectParams.cellRectMaxMargin = 5; },
     [](auto& p) { p.cellRectParams.cellRectMinMargin = 6; p.cellRectParams.cellRectMaxMargin = 5; }, KOC_E_CELL_RECT_MARGIN_ORDER},
};

class ValidateRule : public ::testing::TestWithParam<Rule> {};

TEST_P(ValidateRule, JustInsidePassesJustOutsideFailsWithItsCode)
{
    Params inside;
    GetParam().inside(inside.p);
    EXPECT_EQ(0, koc_charSegmentRunParams_validate(&inside.p));

    Params outside;
    GetParam().outside(outside.p);
    EXPECT_EQ(GetParam().code, koc_charSegmentRunParams_validate(&outside.p));
}

INSTANTIATE_TEST_SUITE_P(RunParams, ValidateRule, ::testing::ValuesIn(kRules),
                         [](const auto& row) { return std::string(row.param.name); });

// When several rules break, the first in the fixed order wins: each rule is
// broken together with every later one and must still be the one reported.
TEST(RunParamsValidate, EarlierRuleWinsOverEveryLaterOne)
{
    const size_t n = sizeof(kRules) / sizeof(kRules[0]);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            if (kRules[i].code == kRules[j].code) {
                continue;
            }
            Params params;
            kRules[j].outside(params.p);
            kRules[i].outside(params.p);
            const int32_t rc = koc_charSegmentRunParams_validate(&params.p);
            // A later rule's edit may also break an earlier rule of the
            // same field (the order rules share fields); the code must
            // still be at or before rule i's position.
            EXPECT_TRUE(rc == kRules[i].code || [&] {
                for (size_t k = 0; k < i; ++k) {
                    if (kRules[k].code == rc) return true;
                }
                return false;
            }()) << kRules[i].name << " with " << kRules[j].name << " gave " << koc_resultName(rc);
        }
    }
}

TEST(RunParamsValidate, DefaultsValidateAndNestedRecordsValidateAlone)
{
    Params params;
    EXPECT_EQ(0, koc_charSegmentRunParams_validate(&params.p));
    EXPECT_EQ(0, koc_charSegmentSpaceParams_validate(&params.p.spaceParams));
    EXPECT_EQ(0, koc_cellRectGenerationParams_validate(&params.p.cellRectParams));
    params.p.spaceParams.maxSpaceWidth = 9;
    EXPECT_EQ(KOC_E_SPACE_WIDTH_ORDER, koc_charSegmentSpaceParams_validate(&params.p.spaceParams));
}

TEST(RunParamsCompareEqual, NaNMatchesAnyValueButIntegersCompareExactly)
{
    Params a, b;
    int32_t eq = -1;
    a.p.thresholdFraction = kNaN;
    b.p.thresholdFraction = 1.0;
    EXPECT_EQ(0, koc_charSegmentRunParams_compareEqual(&a.p, &b.p, &eq));
    EXPECT_EQ(1, eq);

    b.p.spaceParams.minSpaceWidth = 11;
    EXPECT_EQ(0, koc_charSegmentRunParams_compareEqual(&a.p, &b.p, &eq));
    EXPECT_EQ(0, eq);
    b.p.spaceParams.minSpaceWidth = a.p.spaceParams.minSpaceWidth;
    b.p.cellRectParams.cellRectMaxMargin = 6;
    EXPECT_EQ(0, koc_charSegmentRunParams_compareEqual(&a.p, &b.p, &eq));
    EXPECT_EQ(0, eq);
}

TEST(RunParamsAssign, CopiesEveryFieldIncludingNestedRecords)
{
    Params a, b;
    a.p.maxLineAngle = 12.5;
    a.p.spaceParams.spaceInsertionMode = 2;
    a.p.cellRectParams.cellRectMode = 2;
    a.p.skipLineStats = 1;
    EXPECT_EQ(0, koc_charSegmentRunParams_assign(&b.p, &a.p));
    int32_t eq = 0;
    koc_charSegmentRunParams_compareEqual(&a.p, &b.p, &eq);
    EXPECT_EQ(1, eq);
    EXPECT_EQ(2u, b.p.spaceParams.spaceInsertionMode);
    EXPECT_EQ(0, koc_charSegmentRunParams_reset(&b.p));
    koc_charSegmentRunParams_compareEqual(&a.p, &b.p, &eq);
    EXPECT_EQ(0, eq);
}

}  // namespace
