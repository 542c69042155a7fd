// render_test.cpp: the built koc-render binary: its truth boxes against the
// pixels it draws (upright, turned, slanted, dot-matrix, seven-segment),
// its determinism, its 16-bit output and its refusals.
#ifdef KOC_RENDER_PATH

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tool_support.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Grey {
    int width = 0, height = 0, depth = 0;
    std::vector<int> px;
    int at(int x, int y) const { return px[static_cast<size_t>(y * width + x)]; }
};

// Any grey PNG, samples as stored.
Grey readGrey(const fs::path& p)
{
    Grey g;
    FILE* f = std::fopen(p.c_str(), "rb");
    if (f == nullptr) return g;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
        if (png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY) {
            g.width = static_cast<int>(png_get_image_width(png, info));
            g.height = static_cast<int>(png_get_image_height(png, info));
            g.depth = png_get_bit_depth(png, info);
            png_bytepp rows = png_get_rows(png, info);
            for (int y = 0; y < g.height; ++y)
                for (int x = 0; x < g.width; ++x)
                    g.px.push_back(g.depth == 16 ? rows[y][2 * x] * 256 + rows[y][2 * x + 1] : rows[y][x]);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return g;
}

struct Pt {
    double x, y;
};
struct Quad {
    Pt po, px, py;
    Pt centre() const { return {(px.x + py.x) / 2, (px.y + py.y) / 2}; }
    // Within the parallelogram grown by slack pixels along both sides.
    bool contains(Pt p, double slack) const
    {
        const double ux = px.x - po.x, uy = px.y - po.y, vx = py.x - po.x, vy = py.y - po.y;
        const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy), det = ux * vy - uy * vx;
        const double dx = p.x - po.x, dy = p.y - po.y;
        const double s = (dx * vy - dy * vx) / det, t = (ux * dy - uy * dx) / det;
        return s * lu >= -slack && s * lu <= lu + slack && t * lv >= -slack && t * lv <= lv + slack;
    }
};

Quad quadOf(const nlohmann::json& c)
{
    const auto& b = c["box"];
    auto pt = [&](const char* k) { return Pt{b[k][0].get<double>(), b[k][1].get<double>()}; };
    return {pt("po"), pt("px"), pt("py")};
}

double angleDeg(Pt a, Pt b)
{
    return std::atan2(b.y - a.y, b.x - a.x) * 180.0 / M_PI;
}

struct Rendered {
    tooltest::Outcome outcome;
    nlohmann::json truth;
    Grey image;
    std::string pngBytes;
};

class RenderTest : public tooltest::ToolTest {
protected:
    Rendered render(const std::string& name, const std::string& args) const
    {
        const fs::path png = path(name + ".png"), json = path(name + ".json");
        Rendered r;
        r.outcome = runProgram(KOC_RENDER_PATH, args + " --out '" + png.string() + "' --truth '" + json.string() + "'");
        if (r.outcome.status != 0) return r;
        r.truth = nlohmann::json::parse(tooltest::readText(json));
        r.image = readGrey(png);
        r.pngBytes = tooltest::readText(png);
        return r;
    }
};

// Pixels darker than the threshold that no box (grown by slack) contains.
int inkOutsideBoxes(const Rendered& r, int threshold, double slack)
{
    int outside = 0;
    for (int y = 0; y < r.image.height; ++y)
        for (int x = 0; x < r.image.width; ++x) {
            if (r.image.at(x, y) >= threshold) continue;
            bool in = false;
            for (const auto& c : r.truth["chars"])
                in = in || (!c["isSpace"].get<bool>() && quadOf(c).contains({x + 0.5, y + 0.5}, slack));
            outside += in ? 0 : 1;
        }
    return outside;
}

// 8-connected components of pixels darker than the threshold, and the
// largest one's size.
std::pair<int, int> darkComponents(const Grey& g, int threshold)
{
    std::vector<char> seen(g.px.size(), 0);
    int count = 0, largest = 0;
    for (int start = 0; start < static_cast<int>(g.px.size()); ++start) {
        if (seen[static_cast<size_t>(start)] || g.px[static_cast<size_t>(start)] >= threshold) continue;
        ++count;
        int size = 0;
        std::vector<int> stack{start};
        seen[static_cast<size_t>(start)] = 1;
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            ++size;
            const int x = p % g.width, y = p / g.width;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= g.width || ny >= g.height) continue;
                    const int q = ny * g.width + nx;
                    if (seen[static_cast<size_t>(q)] || g.px[static_cast<size_t>(q)] >= threshold) continue;
                    seen[static_cast<size_t>(q)] = 1;
                    stack.push_back(q);
                }
        }
        largest = std::max(largest, size);
    }
    return {count, largest};
}

TEST_F(RenderTest, UprightBoxesAreTheTightInkBoxesOfTheDrawnPixels)
{
    const std::string text = "H\xc3\xbc, 42 jog!"; // "Hü, 42 jog!": 11 characters, 12 bytes
    const Rendered r = render("line", "--font '" + kFont + "' --size 40 --spacing 3 --text '" + text + "'");
    ASSERT_EQ(0, r.outcome.status) << r.outcome.err;
    EXPECT_EQ("line.png", r.truth["image"]);
    EXPECT_EQ(text, r.truth["text"]);
    EXPECT_EQ(r.image.width, r.truth["width"].get<int>());
    EXPECT_EQ(r.image.height, r.truth["height"].get<int>());
    EXPECT_EQ(8, r.image.depth);
    const auto& chars = r.truth["chars"];
    ASSERT_EQ(11u, chars.size());
    EXPECT_EQ("\xc3\xbc", chars[1]["char"]);

    double inkTop = 1e9, inkBottom = -1e9;
    for (size_t k = 0; k < chars.size(); ++k) {
        const Quad q = quadOf(chars[k]);
        EXPECT_EQ(q.po.y, q.px.y);
        EXPECT_EQ(q.po.x, q.py.x);
        if (chars[k]["isSpace"].get<bool>()) continue;
        inkTop = std::min(inkTop, q.po.y);
        inkBottom = std::max(inkBottom, q.py.y);
        // The tight box of pixels below the ground level, searched one pixel
        // beyond the truth box, is the truth box.
        int x0 = 1 << 20, y0 = 1 << 20, x1 = -1, y1 = -1;
        for (int y = static_cast<int>(q.po.y) - 1; y <= static_cast<int>(q.py.y); ++y)
            for (int x = static_cast<int>(q.po.x) - 1; x <= static_cast<int>(q.px.x); ++x)
                if (r.image.at(x, y) < 220) {
                    x0 = std::min(x0, x);
                    x1 = std::max(x1, x + 1);
                    y0 = std::min(y0, y);
                    y1 = std::max(y1, y + 1);
                }
        EXPECT_EQ(q.po.x, x0) << "char " << k;
        EXPECT_EQ(q.px.x, x1) << "char " << k;
        EXPECT_EQ(q.po.y, y0) << "char " << k;
        EXPECT_EQ(q.py.y, y1) << "char " << k;
    }
    EXPECT_EQ(0, inkOutsideBoxes(r, 220, 0));

    // Spaces: flagged, spanning their advance between the neighbours' ink
    // (which 'j' reaches back into by a pixel), at the line's ink height.
    for (size_t k : {3u, 6u}) {
        ASSERT_TRUE(chars[k]["isSpace"].get<bool>()) << k;
        const Quad s = quadOf(chars[k]);
        EXPECT_GT(s.px.x, s.po.x);
        EXPECT_GE(s.po.x, quadOf(chars[k - 1]).px.x);
        EXPECT_LE(s.px.x, quadOf(chars[k + 1]).po.x + 1);
        EXPECT_EQ(inkTop, s.po.y);
        EXPECT_EQ(inkBottom, s.py.y);
    }
}

struct Pose {
    double angle, shear;
};

void PrintTo(const Pose& p, std::ostream* os)
{
    *os << "rotate " << p.angle << " shear " << p.shear;
}

class RenderPoseTest : public RenderTest, public ::testing::WithParamInterface<Pose> {};

TEST_P(RenderPoseTest, BoxesTurnAndSlantWithTheLine)
{
    const Pose pose = GetParam();
    const std::string common = "--font '" + kFont + "' --size 36 --spacing 2 --text 'HELLO WORLD'";
    const Rendered upright = render("upright", common);
    const Rendered posed = render("posed", common + " --rotate " + std::to_string(pose.angle) + " --shear " +
                                               std::to_string(pose.shear));
    ASSERT_EQ(0, upright.outcome.status) << upright.outcome.err;
    ASSERT_EQ(0, posed.outcome.status) << posed.outcome.err;
    const auto &a = upright.truth["chars"], &b = posed.truth["chars"];
    ASSERT_EQ(a.size(), b.size());
    const double turn = pose.angle * M_PI / 180.0;
    std::vector<double> along, across;
    for (size_t k = 0; k < b.size(); ++k) {
        const Quad u = quadOf(a[k]), q = quadOf(b[k]);
        // Sides: the top along the line, the left one slanted by the shear;
        // the top keeps its length, the left one grows by 1 / cos(shear).
        EXPECT_NEAR(pose.angle, angleDeg(q.po, q.px), 1e-2) << k;
        EXPECT_NEAR(90.0 + pose.shear + pose.angle, angleDeg(q.po, q.py), 0.05) << k;
        EXPECT_NEAR(u.px.x - u.po.x, std::hypot(q.px.x - q.po.x, q.px.y - q.po.y), 2e-3) << k;
        EXPECT_NEAR((u.py.y - u.po.y) / std::cos(pose.shear * M_PI / 180.0),
                    std::hypot(q.py.x - q.po.x, q.py.y - q.po.y), 2e-3) << k;
        if (b[k]["isSpace"].get<bool>()) continue;
        const Pt c = q.centre();
        along.push_back(std::cos(turn) * c.x + std::sin(turn) * c.y);
        across.push_back(-std::sin(turn) * c.x + std::cos(turn) * c.y);
    }
    // Capitals share their height, so the centres lie on a line at the angle
    // (O overshoots by a pixel), spaced as in the upright line.
    const auto [lo, hi] = std::minmax_element(across.begin(), across.end());
    EXPECT_LE(*hi - *lo, 1.01);
    std::vector<double> uprightX;
    for (const auto& c : a)
        if (!c["isSpace"].get<bool>()) uprightX.push_back(quadOf(c).centre().x);
    ASSERT_EQ(uprightX.size(), along.size());
    for (size_t k = 1; k < along.size(); ++k)
        EXPECT_NEAR(uprightX[k] - uprightX[k - 1], along[k] - along[k - 1], 1e-2) << k;
    // And the ink is where the boxes say: every solid pixel inside one.
    EXPECT_EQ(0, inkOutsideBoxes(posed, 125, 0.5));
}

INSTANTIATE_TEST_SUITE_P(Poses, RenderPoseTest, ::testing::Values(Pose{10, 0}, Pose{-7, 15}, Pose{25, -10}),
                         [](const auto& param) { return "pose" + std::to_string(param.index); });

TEST_F(RenderTest, DotMatrixAndSevenSegmentDrawSeparateMarks)
{
    const Rendered dots = render("dots", "--font '" + kFont + "' --size 40 --dot-pitch 4 --dot-diameter 3 --text 'EXP 12'");
    ASSERT_EQ(0, dots.outcome.status) << dots.outcome.err;
    ASSERT_EQ(6u, dots.truth["chars"].size());
    const auto [dotCount, largestDot] = darkComponents(dots.image, 125);
    EXPECT_GT(dotCount, 5 * 4); // several dots per character
    EXPECT_LE(largestDot, 9);   // a disc of diameter 3, never two
    EXPECT_EQ(0, inkOutsideBoxes(dots, 220, 0.5));

    // Seven segments: no font, every bar its own mark (7 per 8, 2 for ':').
    const Rendered bars = render("bars", "--seven-segment --size 48 --polarity 2 --text '88:8 -'");
    ASSERT_EQ(0, bars.outcome.status) << bars.outcome.err;
    Grey inverted = bars.image;
    for (int& v : inverted.px) v = 255 - v;
    EXPECT_EQ(7 + 7 + 2 + 7 + 1, darkComponents(inverted, 255 - 125).first);
    const Quad eight = quadOf(bars.truth["chars"][0]);
    EXPECT_NEAR(24.0, eight.px.x - eight.po.x, 1.0);
    EXPECT_NEAR(48.0, eight.py.y - eight.po.y, 1.0);
    EXPECT_TRUE(bars.truth["chars"][4]["isSpace"].get<bool>());
}

TEST_F(RenderTest, NoiseFollowsTheSeedAndSixteenBitsScaleEightBits)
{
    const std::string noisy = "--font '" + kFont + "' --size 30 --text 'A1' --noise 8 --blur 0.7";
    const Rendered a = render("a", noisy + " --seed 5"), b = render("b", noisy + " --seed 5"),
                   c = render("c", noisy + " --seed 6");
    ASSERT_EQ(0, a.outcome.status) << a.outcome.err;
    EXPECT_EQ(a.pngBytes, b.pngBytes);
    EXPECT_NE(a.pngBytes, c.pngBytes);

    // Fractional greys everywhere (turn, blur, gradient), no noise.
    const std::string clean = "--font '" + kFont + "' --size 30 --text 'Az 7' --rotate 5 --blur 1.2 --gradient 15";
    const Rendered eight = render("eight", clean), sixteen = render("sixteen", clean + " --depth 16");
    ASSERT_EQ(0, sixteen.outcome.status) << sixteen.outcome.err;
    ASSERT_EQ(16, sixteen.image.depth);
    EXPECT_EQ(16, sixteen.truth["depth"].get<int>());
    ASSERT_EQ(eight.image.px.size(), sixteen.image.px.size());
    size_t differing = 0;
    for (size_t k = 0; k < eight.image.px.size(); ++k) differing += sixteen.image.px[k] != eight.image.px[k] * 257;
    EXPECT_EQ(0u, differing);
    EXPECT_EQ(eight.truth["chars"], sixteen.truth["chars"]);
}

TEST_F(RenderTest, PolarityGreysAndGradient)
{
    const std::string base = "--font '" + kFont + "' --size 30 --text 'W'";
    const Rendered light = render("light", base + " --polarity 2");
    ASSERT_EQ(0, light.outcome.status) << light.outcome.err;
    const auto [lo, hi] = std::minmax_element(light.image.px.begin(), light.image.px.end());
    EXPECT_EQ(30, *lo);
    EXPECT_EQ(220, *hi);
    EXPECT_EQ(2, light.truth["polarity"].get<int>());

    const Rendered shaded = render("shaded", base + " --fg 0 --bg 200 --gradient 40");
    ASSERT_EQ(0, shaded.outcome.status) << shaded.outcome.err;
    const Grey& g = shaded.image;
    EXPECT_NEAR(160, g.at(0, 0), 1);
    EXPECT_NEAR(240, g.at(g.width - 1, 0), 1);
}

TEST_F(RenderTest, RefusesWhatItCannotDraw)
{
    EXPECT_EQ(2, render("x", "--text 'AB'").outcome.status); // no font
    EXPECT_EQ(2, render("x", "--font '" + kFont + "' --text A --dot-pitch 4").outcome.status);
    EXPECT_EQ(2, render("x", "--font '" + kFont + "' --text A --depth 12").outcome.status);
    const Rendered missing = render("x", "--font '" + path("none.ttf").string() + "' --text A");
    EXPECT_EQ(1, missing.outcome.status);
    EXPECT_NE(std::string::npos, missing.outcome.err.find("none.ttf"));
    const Rendered letter = render("x", "--seven-segment --text 'A1'");
    EXPECT_EQ(1, letter.outcome.status);
    EXPECT_NE(std::string::npos, letter.outcome.err.find("seven-segment"));
}

// A three-line label through both tools: the truth numbers its lines top
// down, and koc-segment with --numLines 3 gives every line exactly its own
// characters, marks inside their truth boxes, in both polarities.
TEST_F(RenderTest, ThreeLineLabelGivesEachLineItsCharacters)
{
    for (const int polarity : {1, 2}) {
        SCOPED_TRACE(polarity);
        const std::string name = "label" + std::to_string(polarity);
        const Rendered r = render(name, "--font '" + kFont + "' --size 28 --polarity " + std::to_string(polarity) +
                                            " --text 'LOT 2412A\n  EXP 2027 03\nNET 250'");
        ASSERT_EQ(0, r.outcome.status) << r.outcome.err;
        ASSERT_EQ(3, r.truth["lines"].get<int>());
        std::vector<std::vector<Quad>> truth(3);
        for (const auto& c : r.truth["chars"])
            if (!c["isSpace"].get<bool>()) truth[c["line"].get<size_t>()].push_back(quadOf(c));
        ASSERT_EQ((std::vector<size_t>{8, 9, 6}), (std::vector<size_t>{truth[0].size(), truth[1].size(), truth[2].size()}));
        EXPECT_LT(truth[0][0].py.y, truth[1][0].po.y);  // lines top down, the second indented
        EXPECT_GT(truth[1][0].po.x, truth[0][0].po.x + 10);

        const tooltest::Outcome o = run("'" + path(name + ".png").string() + "' --numLines 3 --overlay '" +
                                        path(name + "-overlay.png").string() + "' --json -");
        ASSERT_EQ(0, o.status) << o.err;
        EXPECT_TRUE(fs::exists(path(name + "-overlay.png")));
        const nlohmann::json lines = nlohmann::json::parse(o.out)["paragraphs"][0]["lines"];
        ASSERT_EQ(3u, lines.size());
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            std::vector<Quad> marks;
            for (const auto& p : lines[i]["positions"])
                if (!p["isSpace"].get<bool>()) marks.push_back(quadOf({{"box", p["markRect"]}}));
            ASSERT_EQ(truth[i].size(), marks.size());
            for (size_t k = 0; k < marks.size(); ++k) EXPECT_TRUE(truth[i][k].contains(marks[k].centre(), 1.0)) << k;
            const auto& stats = lines[i]["stats"];
            EXPECT_EQ(polarity, stats["polarity"].get<int>());
            EXPECT_EQ(2u, stats["pitchRange"].size());
            EXPECT_TRUE(stats["rawElements"].is_array());
        }
    }
}

// An upright line rich in diagonals (0, 7, W, Y, Z) can read as slanted by
// some 15 degrees, and upright serif print as slanted by a degree or two,
// where an 'ii' whose foot serifs nearly meet joins into one position.
// Measured (koc-segment's default), both read upright, are searched upright
// only, and every glyph gets its own position. A line of upright strokes
// slanted by 10 degrees either way, and an oblique face, keep their slant
// and a search that reaches it.
TEST_F(RenderTest, UprightDiagonalsReadNoSlantAndRealSlantStays)
{
    const std::string serif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
    const std::string oblique = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf";
    const struct {
        std::string style;
        double slant;  // expected, degrees; 0: upright
    } cases[] = {
        {"--font '" + kFont + "' --size 24 --fg 48 --bg 221 --margin 13 --text '077WYWBZBE'", 0.0},
        {"--font '" + serif + "' --size 20 --fg 54 --bg 198 --margin 11 --text '8.3l494.i8-9987-4ii'", 0.0},
        {"--font '" + kFont + "' --size 24 --fg 48 --bg 221 --margin 13 --text 'HNB4DE8KMU' --shear 10", 10.0},
        {"--font '" + kFont + "' --size 24 --fg 48 --bg 221 --margin 13 --text 'HNB4DE8KMU' --shear -10", 10.0},
        {"--font '" + oblique + "' --size 24 --fg 48 --bg 221 --margin 13 --text 'HNB4DE8KMU'", 11.0},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        const std::string name = "slant" + std::to_string(index++);
        const Rendered r = render(name, c.style);
        ASSERT_EQ(0, r.outcome.status) << r.outcome.err;
        const tooltest::Outcome o = run("'" + path(name + ".png").string() + "' --json -");
        ASSERT_EQ(0, o.status) << o.err;
        const nlohmann::json paragraph = nlohmann::json::parse(o.out)["paragraphs"][0];
        const double slant = paragraph["auto"]["measured"]["skewAngle"].get<double>();
        const double searched = paragraph["auto"]["params"]["maxSkewAngle"].get<double>();
        const nlohmann::json& line = paragraph["lines"][0];
        if (c.slant != 0.0) {
            EXPECT_NEAR(c.slant, std::fabs(slant), 2.0);
            EXPECT_GE(searched, std::fabs(slant));
            EXPECT_NEAR(c.slant, std::fabs(line["skewAngle"].get<double>()), 2.0);
            continue;
        }
        EXPECT_EQ(0.0, searched);
        EXPECT_EQ(line["lineAngle"].get<double>(), line["skewAngle"].get<double>());
        std::vector<Quad> truth, marks;
        for (const auto& ch : r.truth["chars"])
            if (!ch["isSpace"].get<bool>()) truth.push_back(quadOf(ch));
        for (const auto& p : line["positions"])
            if (!p["isSpace"].get<bool>()) marks.push_back(quadOf({{"box", p["markRect"]}}));
        ASSERT_EQ(truth.size(), marks.size());
        for (size_t k = 0; k < marks.size(); ++k) EXPECT_TRUE(truth[k].contains(marks[k].centre(), 1.0)) << k;
    }
}

// Asked for three lines, a two-line label leaves the third empty, and its
// statistics show empty ranges as null, not as 2147483647.
TEST_F(RenderTest, ExtraLineIsEmptyWithNullRanges)
{
    const Rendered r = render("two", "--font '" + kFont + "' --size 28 --text 'LOT 2412A\nEXP 2027'");
    ASSERT_EQ(0, r.outcome.status) << r.outcome.err;
    const tooltest::Outcome o = run("'" + path("two.png").string() + "' --numLines 3 --json -");
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json lines = nlohmann::json::parse(o.out)["paragraphs"][0]["lines"];
    ASSERT_EQ(3u, lines.size());
    // Each text line: its glyphs and the one word space.
    const auto count = [](const nlohmann::json& line, bool spaces) {
        size_t n = 0;
        for (const auto& p : line["positions"]) n += p["isSpace"].get<bool>() == spaces ? 1 : 0;
        return n;
    };
    EXPECT_EQ(8u, count(lines[0], false));
    EXPECT_EQ(7u, count(lines[1], false));
    EXPECT_EQ(1u, count(lines[0], true));
    EXPECT_EQ(1u, count(lines[1], true));
    const auto& extra = lines[2];
    EXPECT_TRUE(extra["found"].get<bool>());
    EXPECT_TRUE(extra["positions"].empty());
    const auto& stats = extra["stats"];
    EXPECT_TRUE(stats["gapRange"].is_null());
    EXPECT_TRUE(stats["pitchRange"].is_null());
    EXPECT_TRUE(stats["minBandHeight"].is_null());
    EXPECT_TRUE(stats["positionStats"]["width"].is_null());
    EXPECT_EQ(0u, stats["rawAccepted"].size());
    EXPECT_EQ(stats["rawElements"].size(), stats["rawRejected"].size());
    EXPECT_EQ(static_cast<int>(stats["rawElements"].size()), stats["numRawOutsideBand"].get<int>());
    EXPECT_EQ(std::string::npos, o.out.find("2147483647"));
}

// Condensed capitals light on dark, pushed three pixels together: E and X,
// E and X, E, Y and X, L and U fuse, the others stay apart, so the
// estimator does not call the line touching and the plain run leaves each
// group one mark. --auto sees marks twice a glyph wide and takes the
// touching split's run, every mark within two pixels of its glyph's box.
TEST_F(RenderTest, AutoPartsTheFewTouchingPairsOfALine)
{
    const std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf";
    const Rendered r = render("pairs", "--font '" + font + "' --size 48 --spacing -3 --polarity 2 --fg 222 --bg 59 "
                                       "--margin 48 --text EXEXZLEYXLUZ");
    ASSERT_EQ(0, r.outcome.status) << r.outcome.err;
    const auto marksOf = [](const tooltest::Outcome& o) {
        std::vector<Quad> marks;
        const nlohmann::json doc = nlohmann::json::parse(o.out);
        for (const auto& p : doc["paragraphs"][0]["lines"][0]["positions"])
            if (!p["isSpace"].get<bool>()) marks.push_back(quadOf({{"box", p["markRect"]}}));
        return marks;
    };
    const tooltest::Outcome plain = run("'" + path("pairs.png").string() + "' --no-split-touching --json -");
    ASSERT_EQ(0, plain.status) << plain.err;
    EXPECT_FALSE(nlohmann::json::parse(plain.out)["paragraphs"][0]["auto"]["measured"]["isTouching"].get<bool>());
    EXPECT_EQ(8u, marksOf(plain).size());

    const tooltest::Outcome o = run("'" + path("pairs.png").string() + "' --json -");
    ASSERT_EQ(0, o.status) << o.err;
    const std::vector<Quad> marks = marksOf(o);
    std::vector<Quad> truth;
    for (const auto& c : r.truth["chars"]) truth.push_back(quadOf(c));
    ASSERT_EQ(truth.size(), marks.size());
    for (size_t k = 0; k < marks.size(); ++k) {
        EXPECT_NEAR(truth[k].po.x, marks[k].po.x, 2.0) << k;
        EXPECT_NEAR(truth[k].px.x, marks[k].px.x, 2.0) << k;
    }
}

} // namespace

#endif // KOC_RENDER_PATH
