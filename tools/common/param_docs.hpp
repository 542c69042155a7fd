// param_docs.hpp: one line of help for every run-parameter field, the one
// table that koc-segment's --help, the README's parameter list and the
// Python module all print. Standard library only, so any front end can
// include it.
//
// Each entry says what the field does (in terms of the stage that reads
// it), its unit, its valid values and when a user would change it. The
// valid values are stored as data, not prose, so a test can hold them
// against koc_charSegmentRunParams_validate; a rule that ties two fields
// together (maxCharWidth against minCharWidth, ...) is added as text.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace koctools {

enum class ParamValues {
    Any,   // not validated (a switch: 0 off, anything else on)
    OneOf, // exactly one of values[0..count)
    AtLeast, // lo or more (no upper bound)
    Range,   // lo to hi inclusive
};

struct ParamDoc {
    const char* name;  // the record's field name (flag, JSON key, Python dict key)
    const char* group; // nullptr at the top level, else "cellRectParams" or "spaceParams"
    const char* what;  // what the field does
    const char* unit;  // "px", "degrees", "fraction", "mode", "switch", ...
    ParamValues values;
    double lo;             // AtLeast, Range
    double hi;             // Range
    uint32_t allowed[4];   // OneOf
    size_t allowedCount;   // OneOf
    const char* alsoValid; // a rule tying this field to another, or nullptr
    const char* when;      // when to change it
};

namespace paramdocs_detail {
constexpr double kNone = 0.0;
constexpr ParamDoc any(const char* name, const char* group, const char* what, const char* when)
{
    return ParamDoc{name, group, what, "switch", ParamValues::Any, kNone, kNone, {0, 0, 0, 0}, 0, nullptr, when};
}
constexpr ParamDoc oneOf(const char* name, const char* group, const char* what, uint32_t a, uint32_t b, uint32_t c,
                         uint32_t d, size_t count, const char* when)
{
    return ParamDoc{name, group, what, "mode", ParamValues::OneOf, kNone, kNone, {a, b, c, d}, count, nullptr, when};
}
constexpr ParamDoc atLeast(const char* name, const char* group, const char* what, const char* unit, double lo,
                           const char* alsoValid, const char* when)
{
    return ParamDoc{name, group, what, unit, ParamValues::AtLeast, lo, kNone, {0, 0, 0, 0}, 0, alsoValid, when};
}
constexpr ParamDoc range(const char* name, const char* group, const char* what, const char* unit, double lo, double hi,
                         const char* when)
{
    return ParamDoc{name, group, what, unit, ParamValues::Range, lo, hi, {0, 0, 0, 0}, 0, nullptr, when};
}
} // namespace paramdocs_detail

// In the record's declaration order, nested fields where their record sits.
inline constexpr ParamDoc kParamDocs[] = {
    paramdocs_detail::oneOf(
        "polarity", nullptr,
        "text polarity: 1 dark marks on a light ground, 2 light marks on a dark ground, 4 decided per line from the image",
        1, 2, 4, 0, 3, "fix it to 1 or 2 when all your images share one polarity, or when the decision flips on a line"),
    paramdocs_detail::oneOf(
        "useGradientMethod", nullptr,
        "how the line is found: 1 from the gradient field, 0 from horizontal edgelets (8-bit images only)", 0, 1, 0, 0,
        2, "keep 1; try 0 on 8-bit lines with crisp horizontal edges that the gradient search misplaces"),
    paramdocs_detail::range("maxLineAngle", nullptr,
                            "largest rotation of the text line, either way, that the line search tries", "degrees",
                            0.0, 45.0,
                            "raise it to the largest rotation your rectangles leave uncorrected; 0 trusts the "
                            "rectangle's angle"),
    paramdocs_detail::range("maxSkewAngle", nullptr,
                            "largest slant of the characters from upright, either way, that the line search tries",
                            "degrees", 0.0, 45.0, "raise it for italic print or a camera that is not square to the text"),
    paramdocs_detail::oneOf(
        "normalizationMode", nullptr,
        "grey-level normalisation of the line around 128: 1 none, 2 one stretch for the whole line, 4 stretch about the "
        "local mean, 8 stretch by the local contrast (4 and 8 use a window of half the text height)",
        1, 2, 4, 8, 4,
        "2 for evenly lit lines, 4 for uneven lighting, 8 for faint or varying contrast, 1 for images already "
        "normalised"),
    paramdocs_detail::any("enableBackgroundSuppression", nullptr,
                          "before thresholding, whitens (blackens for light marks) strokes much thinner than the "
                          "text's own",
                          "switch it off when thin characters or dot-matrix dots vanish; keep it on over textured or "
                          "lined backgrounds"),
    paramdocs_detail::range("thresholdFraction", nullptr,
                            "where the hard threshold of the normalised line lies between black (0) and white (1); "
                            "higher values take more pixels as ink",
                            "fraction", 0.0, 1.0,
                            "lower it when neighbouring marks touch or fill in, raise it when faint strokes break "
                            "apart"),
    paramdocs_detail::any("useLineMaskTest", nullptr,
                          "drops blobs that reach outside the rectified line's valid pixels, then takes back those "
                          "that overlap the text band by minLineOverlap",
                          "switch it on when the rectangle runs past the image edge or over a range image's gaps "
                          "and spurious marks appear there"),
    paramdocs_detail::atLeast("blobSizeLimit", nullptr,
                              "blobs more than this many times wider than tall are dropped as rules or scratches",
                              "width/height", 1.0, nullptr,
                              "lower it to drop underlines and horizontal rules, raise it when long flat marks must "
                              "stay"),
    paramdocs_detail::atLeast("textHeightScale", nullptr,
                              "blobs more than this many times taller than wide are dropped as vertical rules or "
                              "scratches (1/256 steps; 0 keeps all)",
                              "height/width", 0.0, nullptr,
                              "lower it to drop box edges and vertical rules, raise it or set 0 when thin tall "
                              "characters vanish"),
    paramdocs_detail::atLeast("minCharArea", nullptr,
                              "smallest ink area of a mark that can be a character; smaller blobs are noise",
                              "px (area)", 1.0, nullptr,
                              "lower it for small text or dots and commas that go missing, raise it to ignore "
                              "speckle"),
    paramdocs_detail::atLeast("minCharWidth", nullptr,
                              "narrowest character, and the narrowest piece a wide mark is cut into", "px", 1.0,
                              nullptr, "lower it for narrow characters (1, I, l) in small print, raise it against thin "
                                       "noise"),
    paramdocs_detail::atLeast("minCharHeight", nullptr, "lowest character; lower marks are dropped", "px", 1.0,
                              nullptr, "lower it when dashes or dots must become positions, raise it against specks"),
    paramdocs_detail::range("minLineOverlap", nullptr,
                            "share of an element's height that must lie in the text band for it to join the line",
                            "fraction", 0.0, 1.0,
                            "lower it when descenders, accents or jumping characters drop out, raise it when marks "
                            "of neighbouring lines get in"),
    paramdocs_detail::atLeast("lineBandMargin", nullptr,
                              "widens the text band by this share of its height on each side; elements wholly inside "
                              "the widened band join the line",
                              "fraction of the band height", 0.0, nullptr,
                              "raise it (0.1 to 0.3) for characters that move up and down, keep 0 for lines set "
                              "close together"),
    paramdocs_detail::oneOf(
        "gapMode", nullptr,
        "gap rules: 1 none; 2 characters lie at least minCharGap apart and smaller gaps are inside characters; 4 "
        "characters lie at least minCharGap apart and gaps up to maxInnerGap are inside characters",
        1, 2, 4, 0, 3, "2 or 4 for dot-matrix or broken print whose characters come in pieces, 1 for solid print"),
    paramdocs_detail::range("refinementFraction", nullptr,
                            "with gapMode 1, two elements merge when they overlap sideways by at least this share of "
                            "the narrower one's width (0: any overlap)",
                            "fraction", 0.0, 1.0, "raise it when slanted or tightly set neighbours get merged"),
    paramdocs_detail::atLeast("minCharGap", nullptr,
                              "smallest gap between two characters (gapMode 2 and 4); line statistics count smaller "
                              "gaps as small",
                              "px", 0.0, nullptr,
                              "set it just above the widest gap inside a character, such as between dot-matrix dots"),
    paramdocs_detail::atLeast("maxInnerGap", nullptr, "widest gap inside one character (gapMode 4)", "px", 0.0, nullptr,
                              "set it to the widest gap between the pieces of one character, below minCharGap"),
    paramdocs_detail::any("limitCharHeight", nullptr,
                          "turns maxCharHeight on: the line height is clipped to it and taller elements are cropped "
                          "to the best band of that height",
                          "switch it on when a rule, frame or logo edge touching the text makes the line too tall"),
    paramdocs_detail::atLeast("maxCharHeight", nullptr,
                              "tallest character, when limitCharHeight is on; it also caps the height the aspect "
                              "limit works from",
                              "px", 1.0, "at least minCharHeight when limitCharHeight is on",
                              "set it a little above the real text height"),
    paramdocs_detail::any("limitCharWidth", nullptr, "turns maxCharWidth on",
                          "switch it on when touching characters stay joined or separate ones are merged"),
    paramdocs_detail::atLeast("maxCharWidth", nullptr,
                              "widest character, when limitCharWidth is on: wider elements are cut, and pieces are "
                              "not joined beyond it",
                              "px", 1.0, "at least minCharWidth when limitCharWidth is on",
                              "set it a little above the widest character"),
    paramdocs_detail::any("limitAspect", nullptr, "turns minAspectRatio on",
                          "switch it off for text whose characters are wider than tall"),
    paramdocs_detail::atLeast("minAspectRatio", nullptr,
                              "least height-to-width ratio of a character, when limitAspect is on: it gives the "
                              "widest character as text height / ratio",
                              "height/width", 0.0, nullptr,
                              "lower it for wide fonts (W, M, wide digits), raise it to cut touching pairs of "
                              "narrow characters"),
    paramdocs_detail::oneOf("refinementMode", nullptr,
                            "how a mark wider than the widest character is cut: 2 into equal pieces over its ink, 1 "
                            "or 4 at the valleys of its column profile",
                            1, 2, 4, 0, 3,
                            "2 for fixed-pitch print whose touching characters show no valley, 1 otherwise"),
    paramdocs_detail::oneOf("segmentationMethod", nullptr,
                            "1 takes the merged and cut elements as the characters; 2 weighs the ways of joining "
                            "pieces into characters and keeps the most regular (pitch, gaps)",
                            1, 2, 0, 0, 2, "1 for clean solid print (faster), 2 for broken or dot-matrix print"),
    paramdocs_detail::oneOf("cellRectMode", "cellRectParams",
                            "how each character's cell grows around its mark: 1 narrow cells widen toward the widest "
                            "mark, 2 every edge grows into the gap within the two margins",
                            1, 2, 0, 0, 2, "2 when cells should share the gaps evenly, for cutting out each character"),
    paramdocs_detail::atLeast("cellRectMinMargin", "cellRectParams",
                              "least growth of a cell edge into its gap (cellRectMode 2)", "px", 0.0, nullptr,
                              "raise it for more background around tightly set characters"),
    paramdocs_detail::atLeast("cellRectMaxMargin", "cellRectParams",
                              "most growth of a cell edge into its gap (cellRectMode 2)", "px", 0.0,
                              "at least cellRectMinMargin", "raise it for more background around widely set characters"),
    paramdocs_detail::oneOf("pitchMeasure", nullptr,
                            "which pitch counts as regular: 2 left edge to left edge, 4 centre to centre, 8 right "
                            "edge to right edge, 1 all three (the most regular wins)",
                            1, 2, 4, 8, 4, "pick one when only that edge is regular, such as 2 for left-aligned glyphs"),
    paramdocs_detail::oneOf("regularitySource", nullptr,
                            "what makes a segmentation regular: 2 the pitch, 4 the gaps, 1 both, 8 neither (the most "
                            "ink wins); all but 4 also run the pitch search",
                            1, 2, 4, 8, 4, "2 for fixed-pitch text, 4 for proportional text with even spacing"),
    paramdocs_detail::atLeast("minPitch", nullptr,
                              "smallest pitch the pitch search considers; line statistics count smaller pitches as "
                              "small",
                              "px", 0.0, nullptr, "set it near the real pitch when the search locks onto half of it"),
    paramdocs_detail::oneOf("spaceInsertionMode", "spaceParams",
                            "spaces between characters: 0 none, 1 at most one per gap, 2 as many as fit", 0, 1, 2, 0,
                            3, "1 or 2 when your reader needs the word breaks"),
    paramdocs_detail::oneOf("scoreSpaces", "spaceParams",
                            "1 scores each space by how empty its cell is (spaceScore, 1.0 = blank), 0 scores every "
                            "space 1.0",
                            0, 1, 0, 0, 2, "0 to save the time when the scores are not used"),
    paramdocs_detail::atLeast("minSpaceWidth", "spaceParams", "narrowest space; narrower gaps get none", "px", 1.0,
                              nullptr, "raise it when spaces appear inside words, lower it when word gaps get none"),
    paramdocs_detail::atLeast("maxSpaceWidth", "spaceParams",
                              "widest space; a space is as wide as the widest mark or the line height, within the "
                              "two limits",
                              "px", 1.0, "at least minSpaceWidth", "lower it to get more, narrower spaces in long gaps"),
    paramdocs_detail::atLeast("numLines", nullptr, "number of text lines stacked top to bottom in each rectangle",
                              "lines", 1.0, nullptr, "set it to the number of lines the rectangle really holds"),
    paramdocs_detail::any("skipLineStats", nullptr, "skips the per-line statistics (their record stays reset)",
                          "switch it on to save time when the statistics are not read"),
};

inline constexpr size_t kParamDocCount = sizeof kParamDocs / sizeof kParamDocs[0];

// The entry of a field, by its name; nullptr for an unknown name.
inline const ParamDoc* findParamDoc(std::string_view name)
{
    for (const ParamDoc& d : kParamDocs) {
        if (name == d.name) {
            return &d;
        }
    }
    return nullptr;
}

namespace paramdocs_detail {
inline std::string number(double v)
{
    if (v == std::floor(v) && std::fabs(v) < 1e9) {
        return std::to_string(static_cast<long long>(v));
    }
    std::string s = std::to_string(v);
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    return s;
}
} // namespace paramdocs_detail

// The valid values in words: "1, 2 or 4", "0 to 45", "at least 1 (and at
// least minSpaceWidth)", "any (0 off, else on)".
inline std::string paramValidText(const ParamDoc& d)
{
    std::string s;
    switch (d.values) {
    case ParamValues::Any:
        s = "any (0 off, else on)";
        break;
    case ParamValues::OneOf:
        for (size_t i = 0; i < d.allowedCount; ++i) {
            if (i > 0) {
                s += i + 1 == d.allowedCount ? " or " : ", ";
            }
            s += std::to_string(d.allowed[i]);
        }
        break;
    case ParamValues::AtLeast:
        s = "at least " + paramdocs_detail::number(d.lo);
        break;
    case ParamValues::Range:
        s = paramdocs_detail::number(d.lo) + " to " + paramdocs_detail::number(d.hi);
        break;
    }
    if (d.alsoValid != nullptr) {
        s += std::string(" (and ") + d.alsoValid + ")";
    }
    return s;
}

// The one line: "what [unit]; valid: ...; when ...". The unit is left out
// of modes and switches, whose values say it all.
inline std::string paramHelpLine(const ParamDoc& d)
{
    std::string s = d.what;
    if (d.values != ParamValues::Any && d.values != ParamValues::OneOf) {
        s += std::string(" [") + d.unit + "]";
    }
    s += "; valid: " + paramValidText(d) + "; when: " + d.when;
    return s;
}

} // namespace koctools
