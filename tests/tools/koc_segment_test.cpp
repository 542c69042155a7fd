// koc_segment_test.cpp: the built koc-segment binary, driven as a user
// would: the embedded sample, coordinates of rendered lines, every input
// format, bad files and bad parameters, parallel runs, overlays.
#include <array>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tools/tool_support.hpp"

namespace {

using tooltest::Outcome;
using tooltest::ToolTest;
namespace fs = std::filesystem;

// The run parameters every test uses: the direct road, small marks allowed.
const std::string kRoad = " --segmentationMethod 1 --minCharArea 10 ";

using tooltest::straightLine;

// The straight line turned by 4 degrees in a larger picture.
test::TextLine turnedLine()
{
    test::TextLine line = straightLine();
    line.width = 320;
    line.height = 120;
    line.originX = 40;
    line.originY = 35;
    line.angleDeg = 4.0;
    return line;
}

std::string quoted(const fs::path& p)
{
    return "'" + p.string() + "'";
}

fs::path writeLine(const fs::path& dir, const test::TextLine& line, const std::string& name)
{
    const fs::path p = dir / name;
    tooltest::writePng(p, line.width, line.height, tooltest::renderGrey(line), PNG_FORMAT_GRAY);
    return p;
}

// How many marks precede each space of a line's positions, and the marks.
std::pair<std::vector<size_t>, size_t> marksBeforeSpaces(const nlohmann::json& positions)
{
    std::vector<size_t> before;
    size_t marks = 0;
    for (const auto& p : positions) {
        if (p["isSpace"].get<bool>()) {
            before.push_back(marks);
            EXPECT_EQ(0, p["area"]);
        } else {
            ++marks;
        }
    }
    return {before, marks};
}

nlohmann::json marksOf(const nlohmann::json& line)
{
    nlohmann::json marks = nlohmann::json::array();
    for (const auto& p : line["positions"])
        if (!p["isSpace"].get<bool>()) marks.push_back(p);
    return marks;
}

// Glyph k's ink box corners (Po, Px, Py) in image pixels, the line turned by
// its angle about its origin.
std::vector<std::array<double, 2>> glyphCorners(const test::TextLine& line, int k)
{
    const double a = line.angleDeg * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const double u0 = line.glyphLeft(k), u1 = u0 + line.glyphWidth, v1 = line.glyphHeight;
    auto at = [&](double u, double v) {
        return std::array<double, 2>{line.originX + c * u - s * v, line.originY + s * u + c * v};
    };
    return {at(u0, 0), at(u1, 0), at(u0, v1)};
}

void expectMarksAtGlyphs(const test::TextLine& line, const nlohmann::json& jsonLine)
{
    const nlohmann::json marks = marksOf(jsonLine);
    ASSERT_EQ(static_cast<size_t>(line.count), marks.size());
    for (int k = 0; k < line.count; ++k) {
        const auto expected = glyphCorners(line, k);
        const char* names[3] = {"po", "px", "py"};
        for (int i = 0; i < 3; ++i) {
            const auto& got = marks[static_cast<size_t>(k)]["markRect"][names[i]];
            EXPECT_NEAR(expected[static_cast<size_t>(i)][0], got[0].get<double>(), 1.0) << "glyph " << k << " " << names[i];
            EXPECT_NEAR(expected[static_cast<size_t>(i)][1], got[1].get<double>(), 1.0) << "glyph " << k << " " << names[i];
        }
        EXPECT_GT(marks[static_cast<size_t>(k)]["area"].get<int>(), 0);
    }
}

// ---- the embedded sample ---------------------------------------------------

// "LOT 2412A  EXP 12/27": spaces after marks 3, 8 and 11 of 16.
const std::pair<std::vector<size_t>, size_t> kSampleSpaces{{3, 8, 11}, 16};

TEST_F(ToolTest, SampleSaysSoAndFindsItsLine)
{
    const Outcome o = run(kRoad);
    ASSERT_EQ(0, o.status) << o.err;
    EXPECT_NE(std::string::npos, o.out.find("embedded sample")) << o.out;
    EXPECT_NE(std::string::npos, o.out.find("line 0: angle 0.00 deg")) << o.out;
    EXPECT_NE(std::string::npos, o.out.find("polarity 1 (dark on light)")) << o.out;
}

// "LOT 2412A  EXP 12/27": 16 characters; with the given record spaces only
// when asked for, and then only in the three word gaps.
TEST_F(ToolTest, SampleGivesOnePositionPerCharacterAndSpacesInTheGaps)
{
    const Outcome plain = run(kRoad + "--no-auto --json -");
    ASSERT_EQ(0, plain.status) << plain.err;
    const nlohmann::json doc = plain.json();
    EXPECT_EQ("(embedded sample)", doc["image"]);
    const nlohmann::json& line = doc["paragraphs"][0]["lines"][0];
    ASSERT_TRUE(line["found"].get<bool>());
    EXPECT_EQ(1, line["polarity"]);
    EXPECT_EQ(16u, line["positions"].size());
    EXPECT_EQ(16u, marksOf(line).size());

    const Outcome spaced = run(kRoad + "--no-auto --spaceInsertionMode 1 --json -");
    ASSERT_EQ(0, spaced.status) << spaced.err;
    EXPECT_EQ(kSampleSpaces, marksBeforeSpaces(spaced.json()["paragraphs"][0]["lines"][0]["positions"]));
}

// ---- coordinates -----------------------------------------------------------

// A line turned by 4 degrees inside a search rectangle turned by 2: the
// angles are the library's, relative to the rectangle's sides; the rectangle
// and every mark come back in image pixels.
TEST_F(ToolTest, RotatedLineRoundTripsItsCoordinates)
{
    const test::TextLine line = turnedLine();
    const fs::path image = writeLine(dir, line, "rotated.png");
    // Centre of the text box, then a rectangle 40 pixels longer and 30 higher.
    const double la = line.angleDeg * M_PI / 180.0, len = line.glyphLeft(line.count - 1) + line.glyphWidth;
    const double cu = len / 2, cv = line.glyphHeight / 2.0;
    const double cx = line.originX + std::cos(la) * cu - std::sin(la) * cv;
    const double cy = line.originY + std::sin(la) * cu + std::cos(la) * cv;
    const double a = 2.0 * M_PI / 180.0;
    const double w = len + 40, h = line.glyphHeight + 30.0;
    const Outcome o = run(kRoad + "--maxLineAngle 10 --json - --rect " + std::to_string(cx) + "," + std::to_string(cy) +
                          "," + std::to_string(w) + "," + std::to_string(h) + ",2 " + quoted(image));
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json doc = o.json();
    EXPECT_EQ(line.width, doc["width"]);
    EXPECT_EQ(line.height, doc["height"]);
    const nlohmann::json& rect = doc["paragraphs"][0]["rect"];
    EXPECT_NEAR(cx - std::cos(a) * w / 2 + std::sin(a) * h / 2, rect["po"][0].get<double>(), 1e-2);
    EXPECT_NEAR(cy - std::sin(a) * w / 2 - std::cos(a) * h / 2, rect["po"][1].get<double>(), 1e-2);
    EXPECT_NEAR(std::cos(a) * w, rect["px"][0].get<double>() - rect["po"][0].get<double>(), 1e-2);
    EXPECT_NEAR(-std::sin(a) * h, rect["py"][0].get<double>() - rect["po"][0].get<double>(), 1e-2);

    const nlohmann::json& found = doc["paragraphs"][0]["lines"][0];
    ASSERT_TRUE(found["found"].get<bool>());
    EXPECT_NEAR(2.0, found["lineAngle"].get<double>(), 0.5);
    EXPECT_NEAR(2.0, found["skewAngle"].get<double>(), 0.5); // upright glyphs: strokes turn with the line
    EXPECT_NEAR(line.glyphHeight, found["lineHeight"].get<double>(), 2.0);
    expectMarksAtGlyphs(line, found);
}

// The edgelet method end to end: the same turned line, found with
// --useGradientMethod 0 over the whole image, puts every mark on its glyph.
TEST_F(ToolTest, EdgeletLineFindingFindsTheTurnedLine)
{
    const test::TextLine line = turnedLine();
    const fs::path image = writeLine(dir, line, "rotated.png");
    const Outcome o = run(kRoad + "--no-auto --useGradientMethod 0 --maxLineAngle 10 --maxSkewAngle 10 --json - " +
                          quoted(image));
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json doc = o.json();
    const nlohmann::json& found = doc["paragraphs"][0]["lines"][0];
    ASSERT_TRUE(found["found"].get<bool>());
    EXPECT_NEAR(4.0, found["lineAngle"].get<double>(), 1.0);
    EXPECT_NEAR(4.0, found["skewAngle"].get<double>(), 2.0);
    EXPECT_NEAR(line.glyphHeight, found["lineHeight"].get<double>(), 3.0);
    expectMarksAtGlyphs(line, found);
}

// ---- input formats ---------------------------------------------------------

struct Format {
    const char* name;
    const char* file;
    int kind; // PNG format, or -maxval for a PGM
};

void PrintTo(const Format& f, std::ostream* os)
{
    *os << f.name;
}

class Formats : public ToolTest, public ::testing::WithParamInterface<Format> {};

TEST_P(Formats, EveryFormatGivesTheSameLine)
{
    const test::TextLine line = straightLine();
    const std::vector<double> grey = tooltest::renderGrey(line);
    const fs::path p = path(GetParam().file);
    if (GetParam().kind < 0)
        tooltest::writePgm(p, line.width, line.height, grey, -GetParam().kind);
    else
        tooltest::writePng(p, line.width, line.height, grey, static_cast<png_uint_32>(GetParam().kind));
    const Outcome o = run(kRoad + "--json - " + quoted(p));
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json found = o.json()["paragraphs"][0]["lines"][0];
    ASSERT_TRUE(found["found"].get<bool>());
    EXPECT_EQ(1, found["polarity"]);
    EXPECT_NEAR(line.glyphHeight, found["lineHeight"].get<double>(), 2.0);
    expectMarksAtGlyphs(line, found);
}

INSTANTIATE_TEST_SUITE_P(Files, Formats,
                         ::testing::Values(Format{"png8", "a.png", PNG_FORMAT_GRAY},
                                           Format{"png16", "a16.png", PNG_FORMAT_LINEAR_Y},
                                           Format{"pngColour", "rgb.png", PNG_FORMAT_RGB},
                                           Format{"pngAlpha", "rgba.png", PNG_FORMAT_RGBA},
                                           Format{"pgm8", "a.pgm", -255}, Format{"pgm16", "a16.pgm", -65535}),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- bad input -------------------------------------------------------------

// Each bad file fails on its own with its reason; the good one still completes.
TEST_F(ToolTest, BadFilesFailAloneWithTheirReason)
{
    const fs::path good = writeLine(dir, straightLine(), "good.png");
    const std::string bytes = tooltest::readText(good);
    std::ofstream(path("truncated.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::ofstream(path("empty.png"), std::ios::binary);
    std::ofstream(path("text.png")) << "not an image\n";
    std::ofstream(path("zero.pgm"), std::ios::binary) << "P5\n0 10\n255\n";
    std::ofstream(path("short.pgm"), std::ios::binary) << "P5\n10 10\n255\n" << std::string(20, 'x');
    std::ofstream(path("maxval.pgm"), std::ios::binary) << "P2 2 1 70000\n1 2\n";
    // Declares 2147483647 x 2147483647 pixels in a few bytes: refused from the
    // header, before anything is allocated.
    const std::string header("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\x7f\xff\xff\xff\x7f\xff\xff\xff\x08\0\0\0\0"
                             "\x31\xa2\x54\xba", 33);
    std::ofstream(path("huge.png"), std::ios::binary) << header;
    std::ofstream(path("huge.pgm"), std::ios::binary) << "P5 2147483647 2147483647 255\n";
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"truncated.png", "truncated"}, {"empty.png", "empty file"},    {"text.png", "not a PNG, PGM, JPEG or TIFF"},
        {"zero.pgm", "zero-size"},      {"short.pgm", "truncated"},     {"maxval.pgm", "maxval 70000"},
        {"missing.png", "cannot open"}, {"huge.png", "exceeds user limit"},   {"huge.pgm", "too large"}};
    std::string args = kRoad + "--json - " + quoted(good);
    for (const auto& [name, reason] : bad) args += " " + quoted(path(name));
    const Outcome o = run(args);
    EXPECT_EQ(1, o.status);
    const nlohmann::json doc = o.json();
    ASSERT_EQ(bad.size() + 1, doc.size());
    EXPECT_FALSE(doc[0].contains("error"));
    EXPECT_TRUE(doc[0]["paragraphs"][0]["lines"][0]["found"].get<bool>());
    for (size_t i = 0; i < bad.size(); ++i) {
        const nlohmann::json& r = doc[i + 1];
        EXPECT_EQ(path(bad[i].first).string(), r["image"]);
        ASSERT_TRUE(r.contains("error")) << bad[i].first;
        EXPECT_EQ("BAD_IMAGE_FILE", r["error"]["name"]) << bad[i].first;
        EXPECT_NE(std::string::npos, r["error"]["message"].get<std::string>().find(bad[i].second))
            << bad[i].first << ": " << r["error"]["message"];
        EXPECT_NE(std::string::npos, o.err.find(bad[i].first + ": BAD_IMAGE_FILE")) << o.err;
    }
}

// Codes from the library reach the user with name, message, image and paragraph.
TEST_F(ToolTest, LibraryCodesNameTheImageAndParagraph)
{
    const test::TextLine line = straightLine();
    const fs::path image8 = writeLine(dir, line, "line.png");
    const fs::path image16 = path("line16.png");
    tooltest::writePng(image16, line.width, line.height, tooltest::renderGrey(line), PNG_FORMAT_LINEAR_Y);
    const fs::path mask = path("mask.png"), smallMask = path("small.png");
    tooltest::writePng(mask, line.width, line.height, std::vector<double>(static_cast<size_t>(line.width * line.height), 255.0),
                       PNG_FORMAT_GRAY);
    tooltest::writePng(smallMask, 10, 10, std::vector<double>(100, 255.0), PNG_FORMAT_GRAY);

    const Outcome outside = run(kRoad + "--json - --rect 150,40,260,60 --rect 5000,5000,100,20 " + quoted(image8));
    EXPECT_EQ(1, outside.status);
    EXPECT_NE(std::string::npos,
              outside.err.find("line.png, paragraph 1: KOC_E_RECT_OUTSIDE_IMAGE: rectangle lies wholly outside the image"))
        << outside.err;
    const nlohmann::json doc = outside.json();
    EXPECT_TRUE(doc["paragraphs"][0]["lines"][0]["found"].get<bool>());
    EXPECT_EQ("KOC_E_RECT_OUTSIDE_IMAGE", doc["paragraphs"][1]["error"]["name"]);
    EXPECT_EQ(1, doc["error"]["paragraph"]);

    struct Case {
        std::string args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"--range-mask " + quoted(mask) + " " + quoted(image8),
         "KOC_E_IMAGE_DEPTH: image has the wrong pixel depth for this operation"},
        {"--range-mask " + quoted(smallMask) + " " + quoted(image16), "KOC_E_WINDOW_OUTSIDE_IMAGE"},
        {"--useGradientMethod 0 " + quoted(image16),
         "paragraph 0: KOC_E_NEEDS_GRADIENT_METHOD: 16-bit and range images need useGradientMethod 1 (useGradientMethod = 0)"},
        {"--range-mask " + quoted(path("nomask.png")) + " " + quoted(image16), "BAD_MASK_FILE"},
    };
    for (const Case& c : cases) {
        const Outcome o = run(kRoad + c.args);
        EXPECT_EQ(1, o.status) << c.args;
        EXPECT_NE(std::string::npos, o.err.find(c.expected)) << c.args << "\n" << o.err;
    }
    // The same 16-bit image with a matching mask is a working range image.
    const Outcome range = run(kRoad + "--json - --range-mask " + quoted(mask) + " " + quoted(image16));
    ASSERT_EQ(0, range.status) << range.err;
    expectMarksAtGlyphs(line, range.json()["paragraphs"][0]["lines"][0]);
}

// ---- run parameters ----------------------------------------------------------

TEST_F(ToolTest, InvalidParametersGiveTheLibraryCodeAndTheField)
{
    std::ofstream(path("zero.json")) << R"({"numLines": 0})";
    const std::vector<std::array<std::string, 2>> cases = {
        {"--maxLineAngle 50", "KOC_E_MAX_LINE_ANGLE: maxLineAngle must lie in [0, 45] degrees (maxLineAngle = 50)"},
        {"--spaceInsertionMode 3", "KOC_E_SPACE_INSERTION_MODE: spaceInsertionMode must be 0, 1 or 2 (spaceInsertionMode = 3)"},
        {"--minSpaceWidth 20 --maxSpaceWidth 10",
         "KOC_E_SPACE_WIDTH_ORDER: minSpaceWidth exceeds maxSpaceWidth (minSpaceWidth = 20, maxSpaceWidth = 10)"},
        {"--cellRectMinMargin 6", "KOC_E_CELL_RECT_MARGIN_ORDER"},
        {"--params " + quoted(path("zero.json")), "KOC_E_NUM_LINES: numLines must be at least 1 (numLines = 0)"},
    };
    for (const auto& [args, expected] : cases) {
        const Outcome o = run(args);
        EXPECT_EQ(2, o.status) << args;
        EXPECT_NE(std::string::npos, o.err.find(expected)) << args << "\n" << o.err;
        EXPECT_EQ("", o.out) << args; // nothing was run
    }
}

TEST_F(ToolTest, MalformedArgumentsAreUsageErrors)
{
    std::ofstream(path("broken.json")) << "{\"maxLineAngle\": ";
    std::ofstream(path("typo.json")) << R"({"maxLineAngel": 3})";
    std::ofstream(path("string.json")) << R"({"spaceParams": {"minSpaceWidth": "7"}})";
    std::ofstream(path("overflow.json")) << R"({"maxLineAngle": 1e400})";
    std::ofstream(path("ext-flag.json")) << R"({"extensions": {"splitTouchingGlyphs": 2}})";
    std::ofstream(path("ext-name.json")) << R"({"extensions": {"splitTouching": true}})";
    std::ofstream(path("ext-budget.json")) << R"({"extensions": {"walkNodeBudget": -5}})";
    std::ofstream(path("ext-band.json")) << R"({"extensions": {"bandAwareElements": 1}})";
    const std::vector<std::array<std::string, 2>> cases = {
        {"--polarity=-1", "polarity: -1 is not a whole number"},
        {"--minCharArea 2.5", "minCharArea: 2.5 is not a whole number"},
        {"--maxLineAngle abc", "maxLineAngle"},
        {"--rect 1,2,3", "--rect: expected cx,cy,width,height"},
        {"--corners 1,2,3,4,5,x", "--corners: expected x0,y0,x1,y1,x2,y2"},
        {"--params " + quoted(path("none.json")), "cannot open"},
        {"--params " + quoted(path("broken.json")), "not valid JSON"},
        {"--params " + quoted(path("typo.json")), "maxLineAngel: no such field"},
        {"--params " + quoted(path("string.json")), "minSpaceWidth: expected a number"},
        {"--params " + quoted(path("overflow.json")), "number overflow"},
        {"--params " + quoted(dir), "not a regular file"},
        {"--params " + quoted(path("ext-flag.json")), "extensions.splitTouchingGlyphs: expected true or false"},
        {"--params " + quoted(path("ext-name.json")), "extensions.splitTouching: no such extension"},
        {"--params " + quoted(path("ext-budget.json")), "extensions.walkNodeBudget: expected a whole number >= 0"},
        {"--params " + quoted(path("ext-band.json")), "extensions.bandAwareElements: expected true or false"},
        {"--walk-budget -1", "--walk-budget"},
        {"--jobs 0", "--jobs"},
        {"--no-such-flag", "no-such-flag"},
    };
    for (const auto& [args, expected] : cases) {
        const Outcome o = run(args);
        EXPECT_EQ(2, o.status) << args;
        EXPECT_NE(std::string::npos, o.err.find(expected)) << args << "\n" << o.err;
    }
}

TEST_F(ToolTest, FlagsWinOverTheFileAndPrintedParametersReadBack)
{
    std::ofstream(path("in.json")) << R"({"maxLineAngle": 5, "gapMode": 2, "spaceParams": {"minSpaceWidth": 7},
                                         "cellRectMode": 2})";
    const Outcome first = run("--params " + quoted(path("in.json")) + " --maxLineAngle 8 --print-params");
    ASSERT_EQ(0, first.status) << first.err;
    const nlohmann::json p = first.json();
    EXPECT_EQ(8.0, p["maxLineAngle"]);
    EXPECT_EQ(2, p["gapMode"]);
    EXPECT_EQ(7, p["spaceParams"]["minSpaceWidth"]);
    EXPECT_EQ(100, p["spaceParams"]["maxSpaceWidth"]); // untouched default
    EXPECT_EQ(2, p["cellRectParams"]["cellRectMode"]);
    std::ofstream(path("out.json")) << first.out;
    const Outcome second = run("--params " + quoted(path("out.json")) + " --print-params");
    ASSERT_EQ(0, second.status) << second.err;
    EXPECT_EQ(p, second.json());
}

// ---- measured run parameters ---------------------------------------------------

// By default each paragraph is measured: the sample's 16 characters come
// back with spaces in its three word gaps although nothing was given, a
// field given on the command line is kept, and the JSON shows the measures.
TEST_F(ToolTest, MeasuredParametersKeepGivenFieldsAndFindTheWordGaps)
{
    const Outcome o = run("--minCharArea 12 --json -");
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json paragraph = o.json()["paragraphs"][0];
    const nlohmann::json& chosen = paragraph["auto"]["params"];
    EXPECT_EQ(12, chosen["minCharArea"]);
    EXPECT_EQ(4, chosen["gapMode"]);
    EXPECT_EQ(1, chosen["spaceParams"]["spaceInsertionMode"]);
    const nlohmann::json& measured = paragraph["auto"]["measured"];
    EXPECT_NEAR(30.0, measured["textHeight"].get<double>(), 2.0);
    EXPECT_EQ(1, measured["polarity"]);
    EXPECT_EQ(kSampleSpaces, marksBeforeSpaces(paragraph["lines"][0]["positions"]));

    // --print-params --auto with an image prints the chosen record per
    // paragraph and runs nothing else; a blank image says why it has none.
    ASSERT_EQ(0, run("--save-sample " + quoted(path("s.png"))).status);
    const std::vector<double> blank(80 * 40, 200.0);
    tooltest::writePng(path("blank.png"), 80, 40, blank, PNG_FORMAT_GRAY);
    const Outcome printed = run("--print-params --auto --minCharArea 12 " + quoted(path("s.png")) + " " +
                                quoted(path("blank.png")));
    const nlohmann::json doc = printed.json();
    ASSERT_EQ(2u, doc.size());
    EXPECT_EQ(paragraph["auto"]["params"], doc[0]["params"]);
    EXPECT_EQ(paragraph["auto"]["measured"], doc[0]["measured"]);
    EXPECT_EQ("KOC_E_NO_INK", doc[1]["error"]);
    EXPECT_EQ(12, doc[1]["params"]["minCharArea"]);

    EXPECT_EQ(2, run("--auto --no-auto").status);
}

// ---- several images ----------------------------------------------------------

TEST_F(ToolTest, TwoJobsGiveTheSameResultsInInputOrder)
{
    std::string args = kRoad + "--json - ";
    std::vector<std::string> names;
    for (int i = 0; i < 5; ++i) {
        test::TextLine line = straightLine();
        line.count = 4 + i;
        line.originX = 20 + 3 * i;
        names.push_back(path("line" + std::to_string(i) + ".png").string());
        if (i == 2)
            std::ofstream(names.back()) << "broken";
        else
            writeLine(dir, line, "line" + std::to_string(i) + ".png");
        args += quoted(fs::path(names.back())) + " ";
    }
    auto withoutTimes = [](nlohmann::json doc) {
        for (auto& r : doc) r.erase("elapsedMs");
        return doc;
    };
    const Outcome one = run(args + "--jobs 1"), two = run(args + "--jobs 2");
    EXPECT_EQ(1, one.status);
    EXPECT_EQ(1, two.status);
    const nlohmann::json a = withoutTimes(one.json()), b = withoutTimes(two.json());
    EXPECT_EQ(a, b);
    ASSERT_EQ(names.size(), b.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], b[i]["image"]);
        EXPECT_EQ(i == 2, b[i].contains("error"));
    }
    EXPECT_EQ(5u, marksOf(b[1]["paragraphs"][0]["lines"][0]).size());
}

// ---- overlay and line images -------------------------------------------------

TEST_F(ToolTest, OverlayShowsSearchRectangleAndMarksAndLineImagesAreWritten)
{
    const test::TextLine line = straightLine();
    const fs::path image = writeLine(dir, line, "line.png");
    // Search rectangle (10, 10) .. (290, 70).
    const Outcome o = run(kRoad + "--rect 150,40,280,60 --overlay-scale 2 --overlay " + quoted(path("o.png")) +
                          " --dump-lines " + quoted(path("lines")) + " " + quoted(image));
    ASSERT_EQ(0, o.status) << o.err;
    const tooltest::Rgb overlay = tooltest::readRgb(path("o.png"));
    ASSERT_EQ(2 * line.width, overlay.width);
    ASSERT_EQ(2 * line.height, overlay.height);
    // The search rectangle on its own border pixels: rows 20 and 139 at scale 2.
    for (int x = 20; x < 580; x += 20) {
        EXPECT_TRUE(overlay.is(x, 20, 40, 120, 255)) << x;
        EXPECT_TRUE(overlay.is(x, 139, 40, 120, 255)) << x;
    }
    // Each mark's left edge is drawn on the picture column just left of its ink.
    for (int k = 0; k < line.count; ++k) {
        const int x = 2 * static_cast<int>(line.originX + line.glyphLeft(k)) - 1;
        const int y = 2 * static_cast<int>(line.originY + line.glyphHeight / 2);
        int red = 0;
        for (int dx = -2; dx <= 2; ++dx) red += overlay.is(x + dx, y, 255, 40, 40) ? 1 : 0;
        EXPECT_GE(red, 1) << "glyph " << k;
    }
    for (const char* kind : {"rectified", "normalized", "binarized"}) {
        const tooltest::Rgb img = tooltest::readRgb(path("lines") / ("line-p0-l0-" + std::string(kind) + ".png"));
        EXPECT_GT(img.width, line.glyphLeft(line.count - 1)) << kind;
        EXPECT_GE(img.height, line.glyphHeight) << kind;
    }
}

} // namespace
