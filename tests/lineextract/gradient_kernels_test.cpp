// The optimised gradient kernels against the portable ones: the same calls
// run once with the host's hook forbidding every optimised kernel and once
// without, on random fields and images of odd sizes (so the vector steps
// always leave a tail), and must give identical bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string_view>
#include <vector>

#include "koc/koc.h"
#include "lineextract/gradient_field.hpp"
#include "lineextract/gradient_kernels.hpp"

namespace {

int32_t forbidAll(const char*)
{
    return 1;
}

// Runs f with the optimised kernels forbidden, restoring the hook after.
template <class F>
auto portably(F&& f)
{
    kprt_isOptimizationInhibitedFP = &forbidAll;
    auto result = f();
    kprt_isOptimizationInhibitedFP = nullptr;
    return result;
}

struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    ~Image() { kimg_image_destruct(&h); }
    std::vector<uint8_t> bytes() const
    {
        kimg_windowConst w;
        kimg_windowConst_init(&w, &h);
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < w.height; ++y) {
            const auto* row = static_cast<const uint8_t*>(w.pixels) + y * w.pitch;
            out.insert(out.end(), row, row + w.width);
        }
        return out;
    }
};

// Random bytes in a store two pels and one row larger than the window on
// each side, so rows have a pitch beyond their width; the extremes of the
// value range are drawn often.
void fillRandom(Image& img, int32_t width, int32_t height, std::mt19937& rng)
{
    kimg_image_assignNew(&img.h, KIMG_DEPTH_8, width + 4, height + 2);
    kimg_window w;
    kimg_window_init(&w, &img.h);
    std::uniform_int_distribution<int32_t> value(0, 255 + 64);
    for (int32_t y = 0; y < w.height; ++y) {
        for (int32_t x = 0; x < w.width; ++x) {
            const int32_t v = value(rng);
            static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(v <= 255 ? v : (v & 1 ? 0x7f : 0x80));
        }
    }
    const kstd_rect32 win{2, 1, width, height};
    kimg_image_setWindowRect(&img.h, &win, 0);
}

std::vector<std::vector<int32_t>> project(bool vertical, const Image& field, const std::vector<int32_t>& slopes,
                                          const int32_t* steps, int32_t absolute)
{
    kstd_vector32s t;
    kstd_vector32s_constructFromBlock(&t, slopes.data(), static_cast<intptr_t>(slopes.size()));
    kstd_vector_vector32s profiles;
    kstd_vector_vector32s_constructEmpty(&profiles);
    const auto fn = vertical ? &koc_projectVertGradientField : &koc_projectHorizGradientField;
    EXPECT_EQ(fn(&field.h, &t, steps, absolute, &profiles), 0);
    std::vector<std::vector<int32_t>> out;
    for (size_t s = 0; s < slopes.size(); ++s) {
        const kstd_vector32s* p = nullptr;
        const int32_t* b = nullptr;
        int32_t n = 0;
        kstd_vector_vector32s_getElementConst(&profiles, static_cast<int32_t>(s), &p);
        kstd_vector32s_getBeginSizeConst(p, &b, &n);
        out.emplace_back(b, b + n);
    }
    kstd_vector_vector32s_destruct(&profiles);
    kstd_vector32s_destruct(&t);
    return out;
}

class OptimisedKernel : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!koc::lineextract::simd::avx2Available()) {
            GTEST_SKIP() << "no optimised kernel runs on this processor";
        }
    }
};

TEST_F(OptimisedKernel, ProjectionsMatchThePortableKernels)
{
    std::mt19937 rng(11);
    // Slopes from flat to steeper than 45 degrees, both signs; steps turned
    // by 30 degrees as well as none, so the normals take general values.
    const std::vector<int32_t> slopes{0, 1, -1, 4567, -4567, 11557, -23861, 65536, -65536, 150000};
    const int32_t turned[4] = {908093, 524288, -524288, 908093};
    for (const auto& [nx, ny] : {std::pair{1, 1}, {3, 5}, {7, 3}, {9, 11}, {17, 1}, {31, 7}, {45, 17}, {127, 9}, {601, 13}}) {
        Image field;
        fillRandom(field, 2 * nx, ny, rng);
        for (const int32_t* steps : {static_cast<const int32_t*>(nullptr), turned}) {
            for (int32_t absolute : {0, 1}) {
                for (bool vertical : {false, true}) {
                    SCOPED_TRACE(testing::Message() << nx << "x" << ny << (vertical ? " vertical" : " horizontal")
                                                    << (steps ? " turned" : "") << " absolute " << absolute);
                    const auto reference = portably([&] { return project(vertical, field, slopes, steps, absolute); });
                    EXPECT_EQ(project(vertical, field, slopes, steps, absolute), reference);
                }
            }
        }
    }
}

TEST_F(OptimisedKernel, GradientFieldMatchesThePortableKernel)
{
    std::mt19937 rng(12);
    // Upright rectangles (the vectorised rows) at whole and fractional
    // corners, inside and across the window's frame, and a turned one.
    struct Case {
        double x, y, length, height, angle;
    };
    const Case cases[] = {{1, 1, 17, 3, 0},   {0, 0, 33, 9, 0},    {-3.5, -1.25, 45, 7, 0},
                          {2.75, 4.5, 27, 5, 0}, {20, 2, 200, 9, 0}, {5, 3, 31, 9, 7}};
    for (const auto& [width, height] : {std::pair{3, 3}, {19, 7}, {53, 13}, {257, 21}}) {
        Image src;
        fillRandom(src, width, height, rng);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << c.x << "," << c.y << " angle " << c.angle);
            const double a = c.angle * 3.14159265358979 / 180;
            const kmath_vect p[3] = {{c.x, c.y},
                                     {c.x + c.length * std::cos(a), c.y + c.length * std::sin(a)},
                                     {c.x - c.height * std::sin(a), c.y + c.height * std::cos(a)}};
            kmath_shapeAffineRect rect;
            kmath_shapeAffineRect_initPoints(&rect, &p[0], &p[1], &p[2]);
            auto run = [&] {
                Image field;
                EXPECT_EQ(koc_getGradientField(&src.h, &rect, &field.h, nullptr), 0);
                return field.bytes();
            };
            const auto reference = portably(run);
            EXPECT_EQ(run(), reference);
        }
    }
}

// The slot itself: a forbidden kernel is never asked, a declining one (any
// code in the 0x0600..0x061F family) hands over to the portable kernel, and
// any other result, failure included, is the slot's result.
TEST(KernelSlot, InhibitionForcesThePortableKernel)
{
    using koc::lineextract::runKernelSlot;
    int optimised = 0;
    int portable = 0;
    int32_t optimisedResult = 0;
    auto run = [&](const char* name) {
        return runKernelSlot(name, [&] { ++optimised; return optimisedResult; }, [&] { ++portable; return 7; });
    };
    static const char* forbidden = "koc_projectHorizGradientField";
    kprt_isOptimizationInhibitedFP = [](const char* name) { return int32_t{std::string_view(name) == forbidden}; };

    EXPECT_EQ(run(forbidden), 7);
    EXPECT_EQ(optimised, 0);
    EXPECT_EQ(portable, 1);

    EXPECT_EQ(run("koc_projectVertGradientField"), 0);
    EXPECT_EQ(optimised, 1);
    EXPECT_EQ(portable, 1);

    optimisedResult = static_cast<int32_t>(0x8000061fu);
    EXPECT_EQ(run("koc_projectVertGradientField"), 7);
    EXPECT_EQ(portable, 2);
    optimisedResult = static_cast<int32_t>(0x80000620u);
    EXPECT_EQ(run("koc_projectVertGradientField"), optimisedResult);
    EXPECT_EQ(portable, 2);
    kprt_isOptimizationInhibitedFP = nullptr;
}

}  // namespace
