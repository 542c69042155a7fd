// Image handles, windows, transforms, run-length, range and three-plane
// images and the pixel maps. Pixels are read back by image coordinates
// through an address computed here, so a wrong origin, pitch or depth shows
// up as a wrong value.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

using test::Image;
using test::Rle;

// Pixel (x, y) of any depth, little-endian, through a window's address.
template <class Window>
uint32_t read(const Window& w, int32_t i, int32_t j)
{
    uint32_t v = 0;
    std::memcpy(&v, static_cast<const uint8_t*>(w.pixels) + (j * w.pitch + i) * w.depth, static_cast<size_t>(w.depth));
    return v;
}
uint32_t pel(const kimg_image& im, int32_t x, int32_t y)
{
    kimg_windowConst w;
    EXPECT_EQ(kimg_windowConst_init(&w, &im), 0);
    return read(w, x - w.x, y - w.y);
}
void setPel(kimg_image& im, int32_t x, int32_t y, uint32_t v)
{
    kimg_window w;
    ASSERT_EQ(kimg_window_init(&w, &im), 0);
    std::memcpy(static_cast<uint8_t*>(w.pixels) + ((y - w.y) * w.pitch + (x - w.x)) * w.depth, &v, static_cast<size_t>(w.depth));
}

bool sameRect(const kstd_rect32& a, const kstd_rect32& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
bool sameHandle(const kimg_image& a, const kimg_image& b)
{
    return a.store == b.store && sameRect(a.window, b.window) && a.isLinearXform == b.isLinearXform &&
           std::memcmp(&a.clientFromImage, &b.clientFromImage, sizeof a.clientFromImage) == 0 &&
           std::memcmp(&a.imageFromClient, &b.imageFromClient, sizeof a.imageFromClient) == 0;
}

uint8_t pattern(int32_t x, int32_t y)
{
    return static_cast<uint8_t>((x * 7 + y * 13) % 11);
}

// ---- sharing and lifetime ----

TEST(ImageHandle, AssignSharesPixelsWhileCopiesAreIndependent)
{
    Image a(test::makeImage8(6, 4, pattern)), shared, copied, constructed;
    kimg_image_destruct(&constructed.h);
    ASSERT_EQ(kimg_image_constructCopy(&constructed.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assign(&shared.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assignCopy(&copied.h, &a.h), 0);
    setPel(a.h, 2, 3, 200);
    EXPECT_EQ(pel(shared.h, 2, 3), 200u);
    EXPECT_EQ(pel(constructed.h, 2, 3), 200u);
    EXPECT_EQ(pel(copied.h, 2, 3), pattern(2, 3));

    // Self-assignment keeps the pixels; assignCopy onto itself detaches.
    ASSERT_EQ(kimg_image_assign(&a.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assignCopy(&a.h, &a.h), 0);
    setPel(a.h, 0, 0, 99);
    EXPECT_EQ(pel(shared.h, 0, 0), pattern(0, 0));
    EXPECT_EQ(pel(a.h, 2, 3), 200u);

    kimg_image3Plane8 planes;
    kimg_image3Plane8_construct(&planes);
    ASSERT_EQ(kimg_image3Plane8_assignNewRect(&planes, &a.h.window), 0);
    setPel(planes.planes[0], 1, 1, 9);
    EXPECT_EQ(pel(planes.planes[1], 1, 1) + pel(planes.planes[2], 1, 1), 0u);
    kimg_image3Plane8_destruct(&planes);
}

TEST(ImageHandle, StoreLivesUntilItsLastHandleEvenAcrossThreads)
{
    test::FailingAllocator alloc;
    {
        Image a, b, c;
        ASSERT_EQ(kimg_image_assignNew(&a.h, KIMG_DEPTH_16, 5, 5), 0);
        kimg_image_assign(&b.h, &a.h);
        kimg_image_assign(&c.h, &b.h);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int k = 0; k < 20000; ++k) {
                    kimg_image copy;
                    kimg_image_constructCopy(&copy, &a.h);
                    kimg_image_destruct(&copy);
                }
            });
        }
        for (auto& t : threads) {
            t.join();
        }
        kimg_image_assignUnbound(&a.h);
        kimg_image_destruct(&b.h);
        EXPECT_EQ(alloc.liveBlocks(), 1);
        setPel(c.h, 4, 4, 0xBEEF);
        EXPECT_EQ(pel(c.h, 4, 4), 0xBEEFu);
        ASSERT_EQ(kimg_image_assignNew(&c.h, KIMG_DEPTH_8, 1, 1), 0);  // frees the old store
        EXPECT_EQ(alloc.liveBlocks(), 1);
    }
    EXPECT_EQ(alloc.liveBlocks(), 0);
}

// ---- windows ----

struct WindowCase {
    kstd_rect32 rect;
    int32_t rc;
};

class ImageWindowRect : public ::testing::TestWithParam<WindowCase> {};

// The store covers (10, 20, 8, 6); the window is narrowed first, since
// widening back inside the store must still be allowed.
TEST_P(ImageWindowRect, AcceptsExactlyRectsInsideTheStore)
{
    const kstd_rect32 storeRect{10, 20, 8, 6}, narrow{12, 21, 2, 2}, rect = GetParam().rect;
    Image a;
    ASSERT_EQ(kimg_image_constructRect(&a.h, KIMG_DEPTH_8, &storeRect), 0);
    ASSERT_EQ(kimg_image_setWindowRect(&a.h, &narrow, 0), 0);
    EXPECT_EQ(kimg_image_setWindowRect(&a.h, &rect, 0), GetParam().rc);
    EXPECT_TRUE(sameRect(a.h.window, GetParam().rc == 0 ? rect : narrow));
}

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kOutside = KOC_E_WINDOW_OUTSIDE_IMAGE;

INSTANTIATE_TEST_SUITE_P(ImageCases, ImageWindowRect,
                         ::testing::Values(WindowCase{{10, 20, 8, 6}, 0}, WindowCase{{11, 22, 3, 4}, 0},
                                           WindowCase{{18, 26, 0, 0}, 0}, WindowCase{{9, 20, 2, 2}, kOutside},
                                           WindowCase{{10, 19, 2, 2}, kOutside}, WindowCase{{17, 20, 2, 2}, kOutside},
                                           WindowCase{{10, 25, 2, 2}, kOutside}, WindowCase{{kMax32, 20, kMax32, 1}, kOutside},
                                           WindowCase{{12, 21, -1, 2}, KOC_E_BAD_ARGUMENT}));

class ImagePixelWindow : public ::testing::TestWithParam<int32_t> {};

// Every way of taking a pixel window must address the pixel its image
// coordinates name, at every depth, over a store not based at (0, 0).
TEST_P(ImagePixelWindow, SubWindowsAddressTheNamedPixels)
{
    const int32_t depth = GetParam();
    const kstd_rect32 storeRect{-4, 5, 9, 7}, narrowed{-3, 6, 7, 5}, sub{-1, 7, 4, 3};
    Image a;
    ASSERT_EQ(kimg_image_constructRect(&a.h, depth, &storeRect), 0);
    auto value = [](int32_t x, int32_t y) { return static_cast<uint32_t>((x + 10) * 17 + y); };  // < 256
    for (int32_t y = 5; y < 12; ++y) {
        for (int32_t x = -4; x < 5; ++x) {
            ASSERT_EQ(pel(a.h, x, y), 0u);
            setPel(a.h, x, y, value(x, y));
        }
    }
    ASSERT_EQ(kimg_image_setWindowRect(&a.h, &narrowed, 0), 0);
    kimg_window w;
    ASSERT_EQ(kimg_window_init(&w, &a.h), 0);
    EXPECT_EQ(w.depth, depth);
    EXPECT_EQ(read(w, 0, 0), value(-3, 6));

    kimg_windowConst c;
    ASSERT_EQ(kimg_windowConst_initWindow(&c, &a.h, &sub, 0), 0);
    EXPECT_EQ(read(c, 2, 1), value(1, 8));
    ASSERT_EQ(kimg_windowConst_window(&c, 1, 1, 2, 2, 0), 0);
    kstd_rect32 got;
    kimg_windowConst_getWindow(&c, &got);
    EXPECT_TRUE(sameRect(got, kstd_rect32{0, 8, 2, 2}));
    EXPECT_EQ(read(c, 1, 1), value(1, 9));
    EXPECT_EQ(kimg_windowConst_window(&c, 1, 1, 2, 2, 0), kOutside);
    const kstd_rect32 one{1, 9, 1, 1};
    ASSERT_EQ(kimg_windowConst_windowRect(&c, &one), 0);
    EXPECT_EQ(read(c, 0, 0), value(1, 9));

    // A sub-window must lie in the image's window, not just in its store;
    // a refusal leaves the pixel window as it was.
    const kstd_rect32 inStoreOnly{-4, 5, 2, 2};
    EXPECT_EQ(kimg_window_initWindow(&w, &a.h, &inStoreOnly, 0), kOutside);
    EXPECT_EQ(kimg_window_initWindow(&w, &a.h, &sub, 1), KOC_E_BAD_ARGUMENT);
    ASSERT_EQ(kimg_window_window(&w, 6, 4, 1, 1, 0), 0);
    EXPECT_EQ(read(w, 0, 0), value(3, 10));
    Image unbound;
    EXPECT_EQ(kimg_window_init(&w, &unbound.h), KOC_E_IMAGE_UNBOUND);
}

INSTANTIATE_TEST_SUITE_P(ImageDepths, ImagePixelWindow, ::testing::Values(KIMG_DEPTH_8, KIMG_DEPTH_16, KIMG_DEPTH_32));

// ---- transforms ----

kmath_vect apply(const kmath_xformLinear& t, kmath_vect p)
{
    return {t.matrix.a * p.x + t.matrix.b * p.y + t.trans.x, t.matrix.c * p.x + t.matrix.d * p.y + t.trans.y};
}

TEST(ImageXform, EitherDirectionStoresTheInverseAndSingularIsRefused)
{
    Image a;
    const kmath_xformLinear x{{2, 1, -0.5, 3}, {5, -7}};
    for (int direction = 0; direction < 2; ++direction) {
        ASSERT_EQ(direction == 0 ? kimg_image_setLinearClientFromImageXform(&a.h, &x)
                                 : kimg_imageConst_setLinearImageFromClientXform(&a.h, &x),
                  0);
        kmath_xformLinear forward, backward;
        ASSERT_EQ(kimg_image_getLinearClientFromImageXform(&a.h, &forward), 0);
        ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(&a.h, &backward), 0);
        EXPECT_EQ(std::memcmp(direction == 0 ? &forward : &backward, &x, sizeof x), 0);
        for (const kmath_vect p : {kmath_vect{0, 0}, kmath_vect{3, -2}, kmath_vect{-11.5, 40}}) {
            const kmath_vect q = apply(backward, apply(forward, p));
            EXPECT_NEAR(q.x, p.x, 1e-12);
            EXPECT_NEAR(q.y, p.y, 1e-12);
        }
    }
    const kimg_image before = a.h;
    const kmath_xformLinear singular{{1, 2, 2, 4}, {1, 1}};
    EXPECT_EQ(kimg_image_setLinearClientFromImageXform(&a.h, &singular), KOC_E_SINGULAR_XFORM);
    EXPECT_EQ(kimg_image_setLinearImageFromClientXform(&a.h, &singular), KOC_E_SINGULAR_XFORM);
    EXPECT_TRUE(sameHandle(before, a.h));

    // Non-linear travels with copyXforms and survives new pixels.
    Image b;
    kimg_image_setNonLinearXform(&a.h);
    kimg_image_copyXforms(&b.h, &a.h);
    ASSERT_EQ(kimg_image_assignNew(&b.h, KIMG_DEPTH_8, 2, 2), 0);
    kmath_xformLinear got;
    EXPECT_EQ(kimg_image_getLinearClientFromImageXform(&b.h, &got), KOC_E_NOT_LINEAR_XFORM);
    EXPECT_EQ(kimg_imageConst_getLinearImageFromClientXform(&b.h, &got), KOC_E_NOT_LINEAR_XFORM);
    kimg_image_setImageFromClientXformIdentity(&b.h);
    EXPECT_EQ(kimg_image_getLinearImageFromClientXform(&b.h, &got), 0);
}

// ---- pixel maps ----

struct ThresholdCase {
    uint8_t threshold, below, atOrAbove;
};

class ImageThreshold : public ::testing::TestWithParam<ThresholdCase> {};

// In place on a handle whose store is shared: the sharer keeps its pixels.
TEST_P(ImageThreshold, MapsTheWindowInPlaceWithoutTouchingASharer)
{
    const ThresholdCase tc = GetParam();
    auto original = [](int32_t x, int32_t y) { return static_cast<uint32_t>(x * 16 + y * 5); };  // < 256
    Image src(test::makeImage8(16, 3, original)), sharer;
    const kmath_xformLinear shift{{1, 0, 0, 1}, {-2, 9}};
    kimg_image_setLinearClientFromImageXform(&src.h, &shift);
    kimg_image_assign(&sharer.h, &src.h);
    const kstd_rect32 window{1, 1, 15, 2};
    kimg_image_setWindowRect(&src.h, &window, 0);

    ASSERT_EQ(kip_pelMapHardThreshold8(&src.h, tc.threshold, tc.below, tc.atOrAbove, &src.h), 0);
    EXPECT_TRUE(sameRect(src.h.window, window));
    EXPECT_EQ(src.h.clientFromImage.trans.y, 9);
    for (int32_t y = 1; y < 3; ++y) {
        for (int32_t x = 1; x < 16; ++x) {
            ASSERT_EQ(pel(sharer.h, x, y), original(x, y));
            ASSERT_EQ(pel(src.h, x, y), original(x, y) < tc.threshold ? tc.below : tc.atOrAbove) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ImageCases, ImageThreshold,
                         ::testing::Values(ThresholdCase{0, 1, 2}, ThresholdCase{255, 9, 0}, ThresholdCase{21, 0, 255},
                                           ThresholdCase{128, 255, 0}));

TEST(ImageCopy, CopiesOnlyTheWindowAtItsCoordinates)
{
    for (const bool entire8 : {false, true}) {
        auto copy = [&](kimg_image* dst, const kimg_image* src) {
            return entire8 ? kip_pelAssignCopyEntireConst8(dst, src) : kimg_image_assignCopy(dst, src);
        };
        Image src(test::makeImage8(9, 6, pattern)), dst, unbound, wide;
        const kstd_rect32 window{2, 1, 5, 4}, full{0, 0, 9, 6};
        kimg_image_setWindowRect(&src.h, &window, 0);
        kimg_image_setNonLinearXform(&src.h);
        ASSERT_EQ(copy(&dst.h, &src.h), 0);
        EXPECT_TRUE(sameRect(dst.h.window, window));
        EXPECT_EQ(dst.h.isLinearXform, 0);
        EXPECT_EQ(kimg_image_setWindowRect(&dst.h, &full, 0), kOutside);
        for (int32_t y = 1; y < 5; ++y) {
            for (int32_t x = 2; x < 7; ++x) {
                EXPECT_EQ(pel(dst.h, x, y), pattern(x, y));
            }
        }
        ASSERT_EQ(copy(&dst.h, &unbound.h), 0);
        EXPECT_EQ(dst.h.store, nullptr);
        kimg_image_assignNew(&wide.h, KIMG_DEPTH_16, 2, 2);
        EXPECT_EQ(copy(&dst.h, &wide.h), entire8 ? KOC_E_IMAGE_DEPTH : 0);
        EXPECT_EQ(kip_pelMapHardThreshold8(&wide.h, 1, 0, 1, &dst.h), KOC_E_IMAGE_DEPTH);
        EXPECT_EQ(kip_pelMapHardThreshold8(&unbound.h, 1, 0, 1, &dst.h), KOC_E_IMAGE_UNBOUND);
    }
}

// ---- run-length images ----

using Runs = std::vector<std::pair<int32_t, int32_t>>;

Runs rowRuns(const kimg_imageRle& rle, int32_t y)
{
    kstd_rect32 rect;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    kimg_imageRle_getEncoding(&rle, &rect, &rowStart, &runs);
    Runs out;
    for (int32_t k = rowStart[y - rect.y]; k < rowStart[y - rect.y + 1]; ++k) {
        out.emplace_back(runs[k].x, runs[k].length);
    }
    return out;
}

struct RlePattern {
    const char* name;
    int32_t width, height;
    uint8_t (*f)(int32_t, int32_t);
};

class RleRoundTrip : public ::testing::TestWithParam<RlePattern> {};

TEST_P(RleRoundTrip, ImageToMaximalRunsAndBackOverTheWindow)
{
    const RlePattern p = GetParam();
    Image src(test::makeImage8(p.width, p.height, p.f)), out;
    const kstd_rect32 window{1, 2, p.width - 2, p.height - 3};
    kimg_image_setWindowRect(&src.h, &window, 0);
    Rle rle;
    ASSERT_EQ(kimg_imageRle_initFromImage8(&rle.h, &src.h), 0);
    for (int32_t y = window.y; y < window.y + window.height; ++y) {
        const Runs runs = rowRuns(rle.h, y);
        for (size_t k = 0; k < runs.size(); ++k) {
            EXPECT_GT(runs[k].second, 0);
            EXPECT_TRUE(k == 0 || runs[k].first > runs[k - 1].first + runs[k - 1].second) << "runs must be maximal";
        }
    }
    kimg_image_setNonLinearXform(&out.h);
    ASSERT_EQ(kimg_imageRle_render8(&rle.h, 77, &out.h), 0);
    EXPECT_TRUE(sameRect(out.h.window, window));
    EXPECT_EQ(out.h.isLinearXform, 0);
    for (int32_t y = window.y; y < window.y + window.height; ++y) {
        for (int32_t x = window.x; x < window.x + window.width; ++x) {
            ASSERT_EQ(pel(out.h, x, y), p.f(x, y) != 0 ? 77u : 0u) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    RlePatterns, RleRoundTrip,
    ::testing::Values(RlePattern{"Empty", 7, 6, [](int32_t, int32_t) -> uint8_t { return 0; }},
                      RlePattern{"Full", 7, 6, [](int32_t, int32_t) -> uint8_t { return 3; }},
                      RlePattern{"Checker", 9, 8, [](int32_t x, int32_t y) -> uint8_t { return (x + y) % 2; }},
                      RlePattern{"Mixed", 23, 11, [](int32_t x, int32_t y) -> uint8_t { return pattern(x, y) > 5 ? 1 : 0; }}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RleAddRun, KeepsRowsOrderedMergesTouchingRunsAndRefusesBadOnes)
{
    Rle rle, copy;
    const kstd_rect32 rect{-2, 10, 12, 3};
    EXPECT_EQ(kimg_imageRle_addRun(&rle.h, 10, 0, 1), KOC_E_BAD_ARGUMENT);  // unbound
    ASSERT_EQ(kimg_imageRle_assignEmpty(&rle.h, &rect), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 12, -2, 3), 0);  // a later row first
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 0, 2), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 2, 3), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 7, 3), 0);
    const int32_t bad[][3] = {{10, 8, 1}, {10, 5, 1}, {10, 12, 1}, {11, -3, 2}, {11, 9, 2},
                              {11, 0, 0}, {9, 0, 1},  {13, 0, 1},  {12, 0, 1}};
    for (const auto& b : bad) {
        EXPECT_EQ(kimg_imageRle_addRun(&rle.h, b[0], b[1], b[2]), KOC_E_BAD_ARGUMENT) << b[0] << " " << b[1];
    }
    EXPECT_EQ(rowRuns(rle.h, 10), (Runs{{0, 5}, {7, 3}}));
    EXPECT_EQ(rowRuns(rle.h, 11), Runs{});
    EXPECT_EQ(rowRuns(rle.h, 12), (Runs{{-2, 3}}));

    ASSERT_EQ(kimg_imageRle_assign(&copy.h, &rle.h), 0);  // deep
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 11, 0, 1), 0);
    EXPECT_EQ(rowRuns(copy.h, 11), Runs{});
    EXPECT_EQ(rowRuns(rle.h, 11), (Runs{{0, 1}}));

    // Unbound reads as empty and renders to an unbound image.
    Image out(test::makeImage8(2, 2, pattern));
    kimg_imageRle_setUnbound(&copy.h);
    kstd_rect32 none{1, 1, 1, 1};
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    ASSERT_EQ(kimg_imageRle_getEncoding(&copy.h, &none, &rowStart, &runs), 0);
    EXPECT_TRUE(none.height == 0 && rowStart[0] == 0);
    ASSERT_EQ(kimg_imageRle_render8(&copy.h, 1, &out.h), 0);
    EXPECT_EQ(out.h.store, nullptr);
    EXPECT_EQ(kimg_imageRle_initFromImage8(&copy.h, &out.h), KOC_E_IMAGE_UNBOUND);
}

// ---- range and three-plane images ----

TEST(RangeImage, InitChecksDepthsAndWindowsAndKeepsThePairAligned)
{
    Image depth16, mask, shortMask, image8, none, view;
    kimg_image_assignNew(&depth16.h, KIMG_DEPTH_16, 6, 5);
    kimg_image_assignNew(&mask.h, KIMG_DEPTH_8, 6, 5);
    kimg_image_assignNew(&shortMask.h, KIMG_DEPTH_8, 6, 4);
    kimg_image_assignNew(&image8.h, KIMG_DEPTH_8, 6, 5);
    const kmath_xformLinear scale{{2, 0, 0, 2}, {1, 1}};
    kimg_image_setLinearClientFromImageXform(&depth16.h, &scale);

    k3img_rangeImage16 range, again;
    k3img_rangeImage16_construct(&range);
    k3img_rangeImage16_construct(&again);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &image8.h, &mask.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &depth16.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &shortMask.h), kOutside);
    ASSERT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &mask.h), 0);
    EXPECT_EQ(range.mask.clientFromImage.matrix.a, 2);

    const kstd_rect32 inner{1, 1, 3, 3}, outside{4, 0, 3, 3};
    ASSERT_EQ(k3img_rangeImage16Const_setWindowRect(&range, &inner), 0);
    EXPECT_TRUE(sameRect(range.mask.window, inner));
    EXPECT_EQ(k3img_rangeImage16Const_setWindowRect(&range, &outside), kOutside);
    EXPECT_TRUE(sameRect(range.image.window, inner));

    k3img_rangeImage16Const_getMask(&range, &view.h);
    setPel(depth16.h, 2, 2, 1234);
    setPel(mask.h, 2, 2, 1);
    EXPECT_EQ(pel(view.h, 2, 2), 1u);

    // Re-initialising from the stores it already holds must not free them.
    k3img_rangeImage16_assign(&again, &range);
    ASSERT_EQ(k3img_rangeImage16_init(&again, &again.image, &again.mask), 0);
    EXPECT_EQ(pel(again.image, 2, 2), 1234u);
    ASSERT_EQ(k3img_rangeImage16_init(&again, &depth16.h, &none.h), 0);
    EXPECT_EQ(again.mask.store, nullptr);
    k3img_rangeImage16_destruct(&again);
    k3img_rangeImage16_destruct(&range);
}

// ---- failure injection ----

struct World {
    kimg_image src = test::makeImage8(7, 5, pattern), dst;
    kimg_imageRle rle, rle2;
    kimg_image3Plane8 planes;
    World()
    {
        const kstd_rect32 small{0, 0, 2, 2}, window{1, 1, 5, 3};
        kimg_image_construct(&dst);
        kimg_image_assignNew(&dst, KIMG_DEPTH_8, 3, 3);
        kimg_imageRle_construct(&rle);
        kimg_imageRle_construct(&rle2);
        kimg_imageRle_initFromImage8(&rle, &src);
        kimg_imageRle_assignEmpty(&rle2, &small);
        kimg_image3Plane8_construct(&planes);
        kimg_image3Plane8_assignNewRect(&planes, &small);
        kimg_image_setWindowRect(&src, &window, 0);
    }
    ~World()
    {
        kimg_image_destruct(&src);
        kimg_image_destruct(&dst);
        kimg_imageRle_destruct(&rle);
        kimg_imageRle_destruct(&rle2);
        kimg_image3Plane8_destruct(&planes);
    }
};

// The handles as bits plus the runs: a failed operation must leave all of it.
struct Snapshot {
    kimg_image images[5];
    const void* rleStores[2];
    std::vector<Runs> rows;
    explicit Snapshot(const World& w)
        : images{w.src, w.dst, w.planes.planes[0], w.planes.planes[1], w.planes.planes[2]},
          rleStores{w.rle.store, w.rle2.store}
    {
        for (int32_t y = 0; y < 5; ++y) {
            rows.push_back(rowRuns(w.rle, y));
        }
        rows.push_back(rowRuns(w.rle2, 0));
    }
    bool operator==(const Snapshot& o) const
    {
        const auto same = [&](int k) { return sameHandle(images[k], o.images[k]); };
        return same(0) && same(1) && same(2) && same(3) && same(4) && rleStores[0] == o.rleStores[0] &&
               rleStores[1] == o.rleStores[1] && rows == o.rows;
    }
};

struct Operation {
    const char* name;
    std::function<int32_t(World&)> run;
};

class ImageFailureInjection : public ::testing::TestWithParam<Operation> {};

TEST_P(ImageFailureInjection, EveryRefusedAllocationLeavesHandlesAsTheyWere)
{
    long setup = 0;
    {
        test::FailingAllocator count;
        World w;
        setup = count.allocations();
    }
    long injected = 0;
    for (bool done = false; !done;) {
        ASSERT_LT(injected, 10) << "never succeeded";
        test::FailingAllocator alloc(setup + injected);
        {
            World w;
            const Snapshot before(w);
            const int32_t rc = GetParam().run(w);
            done = !alloc.failed();
            EXPECT_EQ(rc, done ? 0 : test::FailingAllocator::failureCode()) << "allocation " << injected;
            EXPECT_TRUE(done || before == Snapshot(w)) << "allocation " << injected;
        }
        EXPECT_EQ(alloc.liveBlocks(), 0) << "allocation " << injected;
        injected += done ? 0 : 1;
    }
    EXPECT_GT(injected, 0);
}

INSTANTIATE_TEST_SUITE_P(
    ImageOperations, ImageFailureInjection,
    ::testing::Values(
        Operation{"assignNew", [](World& w) { return kimg_image_assignNew(&w.dst, KIMG_DEPTH_16, 4, 4); }},
        Operation{"assignCopy", [](World& w) { return kimg_image_assignCopy(&w.dst, &w.src); }},
        Operation{"thresholdInPlace", [](World& w) { return kip_pelMapHardThreshold8(&w.src, 4, 0, 255, &w.src); }},
        Operation{"copyEntire8", [](World& w) { return kip_pelAssignCopyEntireConst8(&w.dst, &w.src); }},
        Operation{"threePlanes", [](World& w) { const kstd_rect32 r{0, 0, 6, 6}; return kimg_image3Plane8_assignNewRect(&w.planes, &r); }},
        Operation{"rleFromImage", [](World& w) { return kimg_imageRle_initFromImage8(&w.rle, &w.src); }},
        Operation{"rleAssign", [](World& w) { return kimg_imageRle_assign(&w.rle2, &w.rle); }},
        Operation{"rleAssignEmpty", [](World& w) { const kstd_rect32 r{0, 0, 9, 9}; return kimg_imageRle_assignEmpty(&w.rle, &r); }},
        Operation{"rleAddRun", [](World& w) { return kimg_imageRle_addRun(&w.rle2, 0, 0, 1); }},
        Operation{"rleRender", [](World& w) { return kimg_imageRle_render8(&w.rle, 5, &w.dst); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

// A handle over the caller's pixels reads them in place (later writes show),
// keeps its header alive through shared handles, and frees only the header.
TEST(ImageExternal, SharesCallerPixelsAndFreesOnlyItsHeader)
{
    test::FailingAllocator heap;
    std::vector<uint16_t> pixels(6 * 3, 0);  // 5 wide, pitch 6
    {
        Image a;
        ASSERT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_16, pixels.data(), 5, 3, 6), 0);
        Image b;
        kimg_image_assign(&b.h, &a.h);
        kimg_image_destruct(&a.h);
        kimg_image_construct(&a.h);
        pixels[2 * 6 + 4] = 4242;
        kimg_windowConst w;
        ASSERT_EQ(kimg_windowConst_init(&w, &b.h), 0);
        EXPECT_EQ(w.width, 5);
        EXPECT_EQ(w.height, 3);
        EXPECT_EQ(w.pitch, 6);
        EXPECT_EQ(read(w, 4, 2), 4242u);
        EXPECT_EQ(heap.liveBlocks(), 1);
    }
    EXPECT_EQ(heap.liveBlocks(), 0);
    EXPECT_EQ(pixels[2 * 6 + 4], 4242);
}

TEST(ImageExternal, RefusesBadShapesAndLeavesTheHandle)
{
    alignas(4) uint8_t bytes[64] = {};
    Image a;
    ASSERT_EQ(kimg_image_assignNew(&a.h, KIMG_DEPTH_8, 2, 2), 0);
    const kimg_pixelStore_* before = a.h.store;
    EXPECT_EQ(kimg_image_assignExternal(&a.h, 3, bytes, 2, 2, 2), KOC_E_BAD_ARGUMENT);       // depth
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_8, bytes, 4, 2, 3), KOC_E_BAD_ARGUMENT);  // pitch < width
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_8, bytes, -1, 2, 3), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_8, nullptr, 2, 2, 2), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_16, bytes + 1, 2, 2, 2), KOC_E_BAD_ARGUMENT);  // misaligned
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_8, bytes, 2, 2, std::numeric_limits<intptr_t>::max()),
              KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(a.h.store, before);
    test::FailingAllocator refuse(0);
    EXPECT_EQ(kimg_image_assignExternal(&a.h, KIMG_DEPTH_8, bytes, 2, 2, 2), KOC_E_OUT_OF_MEMORY);
    EXPECT_EQ(a.h.store, before);
}

}  // namespace
