// tool_support.hpp: running the built koc-segment binary and making its
// input files (PNG through libpng's simplified API, PGM by hand).
#pragma once

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/text_image.hpp"

namespace tooltest {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

inline std::string readText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh directory per test, removed afterwards.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("koc_tools_") + info->test_suite_name() + "_" + info->name() + "_" +
                           std::to_string(::getpid());
        for (char& c : name)
            if (c == '/') c = '_';
        dir = fs::temp_directory_path() / name;
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path path(const std::string& name) const { return dir / name; }

    // Runs koc-segment with args (already shell-quoted where needed).
    Outcome run(const std::string& args) const { return runProgram(KOC_SEGMENT_PATH, args); }

    Outcome runProgram(const char* program, const std::string& args) const
    {
        const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
        const std::string command =
            std::string("'") + program + "' " + args + " >'" + out.string() + "' 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        Outcome o;
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        o.out = readText(out);
        o.err = readText(err);
        return o;
    }

    fs::path dir;
};

// The plain test line the tool tests read: 8 glyphs on a 300 x 80 picture.
inline test::TextLine straightLine()
{
    test::TextLine line;
    line.width = 300;
    line.height = 80;
    line.count = 8;
    return line;
}

// Grey pixels of a rendered test line, 0..255.
inline std::vector<double> renderGrey(const test::TextLine& line)
{
    std::vector<double> v(static_cast<size_t>(line.width * line.height));
    for (int y = 0; y < line.height; ++y)
        for (int x = 0; x < line.width; ++x)
            v[static_cast<size_t>(y * line.width + x)] = line.ground + (line.ink - line.ground) * line.coverage(x, y);
    return v;
}

// format: PNG_FORMAT_GRAY, PNG_FORMAT_RGB or PNG_FORMAT_LINEAR_Y (16-bit grey,
// written as value * 257 so the 8-bit view is unchanged).
inline void writePng(const fs::path& p, int width, int height, const std::vector<double>& grey, png_uint_32 format)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    const size_t n = grey.size();
    if (format == PNG_FORMAT_LINEAR_Y) {
        std::vector<uint16_t> px(n);
        for (size_t i = 0; i < n; ++i) px[i] = static_cast<uint16_t>(std::lround(grey[i]) * 257);
        ASSERT_NE(0, png_image_write_to_file(&image, p.c_str(), 0, px.data(), 0, nullptr)) << image.message;
        return;
    }
    const size_t channels = PNG_IMAGE_SAMPLE_CHANNELS(format);
    std::vector<uint8_t> px(n * channels);
    for (size_t i = 0; i < n; ++i)
        for (size_t c = 0; c < channels; ++c) px[i * channels + c] = static_cast<uint8_t>(std::lround(grey[i]));
    ASSERT_NE(0, png_image_write_to_file(&image, p.c_str(), 0, px.data(), 0, nullptr)) << image.message;
}

// Binary PGM; maxval above 255 gives 16-bit samples (value * 257).
inline void writePgm(const fs::path& p, int width, int height, const std::vector<double>& grey, int maxval)
{
    std::ofstream out(p, std::ios::binary);
    out << "P5\n# test line\n" << width << " " << height << "\n" << maxval << "\n";
    for (double g : grey) {
        const long v = std::lround(g);
        if (maxval > 255) {
            const long w = v * 257;
            out.put(static_cast<char>(w >> 8)).put(static_cast<char>(w & 0xff));
        } else {
            out.put(static_cast<char>(v));
        }
    }
}

struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;
    const uint8_t* at(int x, int y) const { return &px[static_cast<size_t>((y * width + x) * 3)]; }
    bool is(int x, int y, uint8_t r, uint8_t g, uint8_t b) const
    {
        const uint8_t* p = at(x, y);
        return p[0] == r && p[1] == g && p[2] == b;
    }
};

inline Rgb readRgb(const fs::path& p)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Rgb out;
    if (png_image_begin_read_from_file(&image, p.c_str()) == 0) return out;
    image.format = PNG_FORMAT_RGB;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.px.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, out.px.data(), 0, nullptr);
    return out;
}

} // namespace tooltest
