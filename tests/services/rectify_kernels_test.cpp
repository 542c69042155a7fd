// rectify_kernels_test.cpp: the optimised rectification against the portable
// one: the same calls with the host's hook forbidding the optimised kernel
// and without, on random images of odd sizes, must give identical pixels.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "koc/koc.h"
#include "services/rectify.hpp"
#include "services/rectify_kernels.hpp"

namespace {

std::vector<std::string> askedKernels;

int32_t forbidAndRecord(const char* name)
{
    askedKernels.emplace_back(name);
    return 1;
}

struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    ~Image() { kimg_image_destruct(&h); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    std::vector<uint16_t> pixels() const
    {
        kimg_windowConst w;
        kimg_windowConst_init(&w, &h);
        std::vector<uint16_t> out;
        for (int32_t y = 0; y < w.height; ++y)
            for (int32_t x = 0; x < w.width; ++x) {
                const auto* p = static_cast<const uint8_t*>(w.pixels) + (y * w.pitch + x) * w.depth;
                out.push_back(w.depth == 1 ? *p : *reinterpret_cast<const uint16_t*>(p));
            }
        return out;
    }
};

// Random pixels in a caller-owned block that ends exactly with the last
// pixel (rows pitch pixels apart, pitch >= width), so that any read past
// the window's end leaves the allocation; the extremes are drawn often.
template <class Pixel>
struct Source {
    std::vector<Pixel> store;
    Image image;
    Source(int32_t width, int32_t height, int32_t pitch, std::mt19937& rng)
        : store(static_cast<size_t>((height - 1) * pitch + width))
    {
        std::uniform_int_distribution<int32_t> pick(0, 9);
        for (Pixel& p : store) {
            const int32_t k = pick(rng);
            p = k == 0 ? Pixel{0} : k == 1 ? static_cast<Pixel>(~Pixel{0}) : static_cast<Pixel>(rng());
        }
        EXPECT_EQ(kimg_image_assignExternal(&image.h, sizeof(Pixel), store.data(), width, height, pitch), 0);
    }
};

kmath_shapeAffineRect turnedRect(double x, double y, double length, double height, double angle, double slant)
{
    const double a = angle * M_PI / 180.0;
    const double b = (angle + 90.0 + slant) * M_PI / 180.0;
    const kmath_vect po{x, y}, px{x + length * std::cos(a), y + length * std::sin(a)},
        py{x + height * std::cos(b), y + height * std::sin(b)};
    kmath_shapeAffineRect r;
    kmath_shapeAffineRect_initPoints(&r, &po, &px, &py);
    return r;
}

template <class Pixel>
void compareOnRandomRects(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const auto& [width, height, pitch] : {std::array<int32_t, 3>{2, 2, 2}, {5, 3, 7}, {17, 9, 17}, {61, 23, 64},
                                              {203, 41, 203}}) {
        Source<Pixel> src(width, height, pitch, rng);
        for (int trial = 0; trial < 44; ++trial) {
            // Corners inside and well outside the window, any direction
            // (steep, backwards, upside down), slants both ways; the last
            // trials start so far off that the row walk leaves 32 bits.
            const bool far = trial >= 40;
            const double x = far ? (trial % 2 == 0 ? 32700.0 : -32700.0) : -8.0 + (width + 16.0) * unit(rng);
            const double y = far ? 32700.0 * unit(rng) : -6.0 + (height + 12.0) * unit(rng);
            const double length = 1.0 + (width + 20.0) * unit(rng);
            const double tall = 1.0 + (height + 10.0) * unit(rng);
            const double angle = trial < 20 ? -12.0 + 24.0 * unit(rng) : 360.0 * unit(rng);
            const double slant = -30.0 + 60.0 * unit(rng);
            const kmath_shapeAffineRect rect = turnedRect(x, y, length, tall, angle, slant);
            SCOPED_TRACE(testing::Message() << width << "x" << height << " pitch " << pitch << " rect at " << x << ","
                                            << y << " " << length << "x" << tall << " angle " << angle << " slant "
                                            << slant);
            Image optimised;
            ASSERT_EQ(koc::services::affineRectifyImageRegion(&src.image.h, &rect, &optimised.h), 0);
            askedKernels.clear();
            kprt_isOptimizationInhibitedFP = &forbidAndRecord;
            Image portable;
            const int32_t rc = koc::services::affineRectifyImageRegion(&src.image.h, &rect, &portable.h);
            kprt_isOptimizationInhibitedFP = nullptr;
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(askedKernels, std::vector<std::string>{"kip_affineRectifyImageRegion"});
            ASSERT_EQ(optimised.pixels(), portable.pixels());
        }
    }
}

class OptimisedRectify : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!koc::services::simd::rectifyAvx2Available()) {
            GTEST_SKIP() << "no optimised kernel runs on this processor";
        }
    }
};

TEST_F(OptimisedRectify, EightBitMatchesThePortableKernel)
{
    compareOnRandomRects<uint8_t>(21);
}

TEST_F(OptimisedRectify, SixteenBitMatchesThePortableKernel)
{
    compareOnRandomRects<uint16_t>(22);
}

}  // namespace
