// report_test.cpp: koc-segment --report opened in headless Chromium: the
// rendered page holds every picture and every position row the JSON of the
// same run lists, and the browser's console stays silent (the page logs
// any picture that does not decode). Skips when chromium is not installed,
// unless KOC_REQUIRE_CHROMIUM is set (CI sets it).
#include <cstdlib>
#include <string>

#include "tools/tool_support.hpp"

namespace {

using tooltest::Outcome;
using tooltest::ToolTest;
namespace fs = std::filesystem;

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

bool haveChromium()
{
    return std::system("command -v chromium >/dev/null 2>&1") == 0;
}

class Report : public ToolTest {
protected:
    void SetUp() override
    {
        ToolTest::SetUp();
        if (!haveChromium()) {
            if (std::getenv("KOC_REQUIRE_CHROMIUM") != nullptr) FAIL() << "chromium is required here but not installed";
            GTEST_SKIP() << "chromium is not installed (Debian package chromium; scripts/deps.sh installs it): "
                            "the report is not rendered";
        }
    }

    // The DOM after the page has loaded and run its script; the browser's
    // own log goes to *log.
    std::string render(const fs::path& html, std::string* log) const
    {
        const fs::path dom = dir / "dom.html", err = dir / "chromium.log";
        const std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
                                    "--user-data-dir='" + (dir / "profile").string() +
                                    "' --enable-logging=stderr --v=0 --dump-dom 'file://" + html.string() + "' >'" +
                                    dom.string() + "' 2>'" + err.string() + "'";
        EXPECT_EQ(0, std::system(command.c_str())) << tooltest::readText(err);
        *log = tooltest::readText(err);
        return tooltest::readText(dom);
    }

    // Every found line shows three line images, the overlay one more per
    // image; every position has a row and a shape.
    void expectPageMatches(const fs::path& html, const nlohmann::json& images) const
    {
        const std::string page = tooltest::readText(html);
        EXPECT_EQ(std::string::npos, page.find("http://")) << "the page must not need the network";
        EXPECT_EQ(std::string::npos, page.find("https://"));
        std::string log;
        const std::string dom = render(html, &log);
        ASSERT_NE(std::string::npos, dom.find("</html>")) << "no page rendered: " << log;
        size_t pictures = 0, positions = 0;
        for (const auto& image : images) {
            pictures += image.contains("error") && image["paragraphs"].empty() ? 0 : 1;
            for (const auto& p : image["paragraphs"])
                for (const auto& l : p["lines"]) {
                    pictures += l["found"].get<bool>() ? 3 : 0;
                    positions += l["positions"].size();
                }
        }
        EXPECT_GT(positions, 0u);
        EXPECT_EQ(pictures, count(dom, "<img "));
        EXPECT_EQ(pictures, count(dom, "src=\"data:image/png;base64,"));
        EXPECT_EQ(positions, count(dom, "<tr class=\"pos\" data-pos="));
        EXPECT_EQ(positions, count(dom, "<g class=\"pos\" data-pos="));
        EXPECT_EQ(images.size(), count(dom, "<section class=\"image\""));
        EXPECT_EQ(std::string::npos, log.find(":CONSOLE")) << log;
    }
};

TEST_F(Report, OfTheEmbeddedSampleRendersEveryPictureAndRow)
{
    const Outcome o = run("--spaceInsertionMode 1 --report '" + path("run.html").string() + "' --json '" +
                          path("run.json").string() + "'");
    ASSERT_EQ(0, o.status) << o.err;
    const nlohmann::json doc = nlohmann::json::parse(tooltest::readText(path("run.json")));
    expectPageMatches(path("run.html"), nlohmann::json::array({doc}));
    // With the estimator on, the page shows what it measured.
    EXPECT_NE(std::string::npos, tooltest::readText(path("run.html")).find("Estimator: measured and chose"));
}

// Three images, one of them with two paragraphs, and a fourth that cannot
// be read: its section says why, the others are complete.
TEST_F(Report, OfSeveralImagesRendersEachOne)
{
    test::TextLine line;
    line.width = 300;
    line.height = 80;
    line.count = 8;
    const std::vector<double> grey = tooltest::renderGrey(line);
    tooltest::writePng(path("a.png"), line.width, line.height, grey, PNG_FORMAT_GRAY);
    tooltest::writePng(path("b.png"), line.width, line.height, grey, PNG_FORMAT_LINEAR_Y);
    tooltest::writePgm(path("c.pgm"), line.width, line.height, grey, 255);
    std::ofstream(path("broken.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n";
    const std::string files = " '" + path("a.png").string() + "' '" + path("b.png").string() + "' '" +
                              path("c.pgm").string() + "' '" + path("broken.png").string() + "'";
    const Outcome o = run("--no-auto --segmentationMethod 1 --minCharArea 10 --rect 150,40,300,80 --rect 75,40,150,80 "
                          "--report '" + path("run.html").string() + "' --json '" + path("run.json").string() + "'" +
                          files);
    ASSERT_EQ(1, o.status) << o.err; // the broken file
    const nlohmann::json doc = nlohmann::json::parse(tooltest::readText(path("run.json")));
    ASSERT_EQ(4u, doc.size());
    expectPageMatches(path("run.html"), doc);
    const std::string page = tooltest::readText(path("run.html"));
    EXPECT_EQ(6u, count(page, "<h3>Paragraph "));
    EXPECT_NE(std::string::npos, page.find("BAD_IMAGE_FILE"));
}

} // namespace
