// Image handles, windows, transforms, run-length images, range images and
// the two pixel maps. Pixels are always read back by image coordinates
// through an independent address computation, so a wrong origin, pitch or
// depth shows up as a wrong value rather than passing silently.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

// Destructs the handle at scope exit, so handles die before the allocator
// fake that counts their blocks.
struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    explicit Image(const kimg_image& made) : h(made) {}
    ~Image() { kimg_image_destruct(&h); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
};

struct Rle {
    kimg_imageRle h;
    Rle() { kimg_imageRle_construct(&h); }
    ~Rle() { kimg_imageRle_destruct(&h); }
    Rle(const Rle&) = delete;
    Rle& operator=(const Rle&) = delete;
};

const uint8_t* pelAddress(const kimg_image& im, int32_t x, int32_t y, int32_t* depth)
{
    kimg_windowConst w;
    EXPECT_EQ(kimg_windowConst_init(&w, &im), 0);
    *depth = w.depth;
    return static_cast<const uint8_t*>(w.pixels) + ((y - w.y) * w.pitch + (x - w.x)) * w.depth;
}

uint32_t pel(const kimg_image& im, int32_t x, int32_t y)
{
    int32_t depth = 0;
    const uint8_t* p = pelAddress(im, x, y, &depth);
    uint32_t v = 0;
    if (depth == 1) {
        return *p;
    }
    if (depth == 2) {
        uint16_t v16;
        std::memcpy(&v16, p, 2);
        return v16;
    }
    std::memcpy(&v, p, 4);
    return v;
}

void setPel(kimg_image& im, int32_t x, int32_t y, uint32_t v)
{
    int32_t depth = 0;
    auto* p = const_cast<uint8_t*>(pelAddress(im, x, y, &depth));
    if (depth == 1) {
        *p = static_cast<uint8_t>(v);
    } else if (depth == 2) {
        const auto v16 = static_cast<uint16_t>(v);
        std::memcpy(p, &v16, 2);
    } else {
        std::memcpy(p, &v, 4);
    }
}

kstd_rect32 windowOf(const kimg_image& im)
{
    kstd_rect32 r;
    kimg_image_getWindow(&im, &r);
    return r;
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
    Image a(test::makeImage8(6, 4, pattern));
    Image shared, copied, constructed;
    kimg_image_destruct(&constructed.h);
    ASSERT_EQ(kimg_image_constructCopy(&constructed.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assign(&shared.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assignCopy(&copied.h, &a.h), 0);

    setPel(a.h, 2, 3, 200);
    EXPECT_EQ(pel(shared.h, 2, 3), 200u);
    EXPECT_EQ(pel(constructed.h, 2, 3), 200u);
    EXPECT_EQ(pel(copied.h, 2, 3), pattern(2, 3));
    EXPECT_NE(copied.h.store, a.h.store);

    // Self-assignment keeps the pixels; assignCopy onto itself detaches.
    ASSERT_EQ(kimg_image_assign(&a.h, &a.h), 0);
    ASSERT_EQ(kimg_image_assignCopy(&a.h, &a.h), 0);
    setPel(a.h, 0, 0, 99);
    EXPECT_EQ(pel(shared.h, 0, 0), pattern(0, 0));
    EXPECT_EQ(pel(a.h, 2, 3), 200u);
}

TEST(ImageHandle, StoreLivesUntilItsLastHandle)
{
    test::FailingAllocator alloc;
    {
        Image a, b, c;
        ASSERT_EQ(kimg_image_assignNew(&a.h, KIMG_DEPTH_16, 5, 5), 0);
        kimg_image_assign(&b.h, &a.h);
        kimg_image_assign(&c.h, &b.h);
        EXPECT_EQ(alloc.liveBlocks(), 1);
        kimg_image_assignUnbound(&a.h);
        kimg_image_destruct(&b.h);
        EXPECT_EQ(alloc.liveBlocks(), 1);
        setPel(c.h, 4, 4, 0xBEEF);  // still valid memory
        EXPECT_EQ(pel(c.h, 4, 4), 0xBEEFu);
        // Rebinding the last handle frees the old store.
        ASSERT_EQ(kimg_image_assignNew(&c.h, KIMG_DEPTH_8, 1, 1), 0);
        EXPECT_EQ(alloc.liveBlocks(), 1);
    }
    EXPECT_EQ(alloc.liveBlocks(), 0);
}

TEST(ImageHandle, ReferenceCountSurvivesConcurrentCopies)
{
    test::FailingAllocator alloc;
    {
        Image a;
        ASSERT_EQ(kimg_image_assignNew(&a.h, KIMG_DEPTH_8, 8, 8), 0);
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
        EXPECT_EQ(alloc.liveBlocks(), 1);
    }
    EXPECT_EQ(alloc.liveBlocks(), 0);
}

TEST(ImageHandle, NewPixelsAreZeroedAndKeepTransforms)
{
    Image a;
    int32_t bound = -1, depth = -1, linear = -1;
    kimg_image_getIsBound(&a.h, &bound);
    kimg_image_getDepth(&a.h, &depth);
    kimg_image_getIsLinearXform(&a.h, &linear);
    EXPECT_EQ(bound, 0);
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(linear, 1);

    const kmath_xformLinear shift{{1, 0, 0, 1}, {3, 4}};
    kimg_image_setLinearClientFromImageXform(&a.h, &shift);
    const kstd_rect32 rect{-3, 7, 5, 2};
    ASSERT_EQ(kimg_image_assignNewRect(&a.h, KIMG_DEPTH_32, &rect), 0);
    EXPECT_TRUE(sameRect(windowOf(a.h), rect));
    for (int32_t y = 7; y < 9; ++y) {
        for (int32_t x = -3; x < 2; ++x) {
            EXPECT_EQ(pel(a.h, x, y), 0u);
        }
    }
    kmath_xformLinear got;
    kimg_image_getLinearClientFromImageXform(&a.h, &got);
    EXPECT_EQ(got.trans.x, 3);

    EXPECT_EQ(kimg_image_assignNew(&a.h, 3, 2, 2), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(kimg_image_assignNew(&a.h, KIMG_DEPTH_8, -1, 2), KOC_E_BAD_ARGUMENT);
    EXPECT_TRUE(sameRect(windowOf(a.h), rect));
}

// ---- windows ----

// Store over (10, 20, 8, 6).
struct WindowCase {
    kstd_rect32 rect;
    int32_t rc;
};

class ImageWindowRect : public ::testing::TestWithParam<WindowCase> {};

TEST_P(ImageWindowRect, AcceptsExactlyRectsInsideTheStore)
{
    const kstd_rect32 storeRect{10, 20, 8, 6};
    Image a;
    ASSERT_EQ(kimg_image_constructRect(&a.h, KIMG_DEPTH_8, &storeRect), 0);
    // Narrow first: widening back inside the store must still be allowed.
    const kstd_rect32 narrow{12, 21, 2, 2};
    ASSERT_EQ(kimg_image_setWindowRect(&a.h, &narrow, 0), 0);
    const kstd_rect32 rect = GetParam().rect;
    EXPECT_EQ(kimg_image_setWindowRect(&a.h, &rect, 0), GetParam().rc);
    EXPECT_TRUE(sameRect(windowOf(a.h), GetParam().rc == 0 ? rect : narrow));
}

constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    ImageCases, ImageWindowRect,
    ::testing::Values(WindowCase{{10, 20, 8, 6}, 0}, WindowCase{{11, 22, 3, 4}, 0}, WindowCase{{18, 26, 0, 0}, 0},
                      WindowCase{{9, 20, 2, 2}, KOC_E_WINDOW_OUTSIDE_IMAGE},
                      WindowCase{{10, 19, 2, 2}, KOC_E_WINDOW_OUTSIDE_IMAGE},
                      WindowCase{{17, 20, 2, 2}, KOC_E_WINDOW_OUTSIDE_IMAGE},
                      WindowCase{{10, 25, 2, 2}, KOC_E_WINDOW_OUTSIDE_IMAGE},
                      WindowCase{{kMax32, 20, kMax32, 1}, KOC_E_WINDOW_OUTSIDE_IMAGE},
                      WindowCase{{12, 21, -1, 2}, KOC_E_BAD_ARGUMENT}));

class ImagePixelWindow : public ::testing::TestWithParam<int32_t> {};

// Pixel windows at every level (image window, initWindow, window_window,
// windowRect) must address the pixel named by image coordinates.
TEST_P(ImagePixelWindow, SubWindowsAddressTheNamedPixels)
{
    const int32_t depth = GetParam();
    const kstd_rect32 storeRect{-4, 5, 9, 7};
    Image a;
    ASSERT_EQ(kimg_image_constructRect(&a.h, depth, &storeRect), 0);
    auto value = [](int32_t x, int32_t y) { return static_cast<uint32_t>((x + 10) * 17 + y); };
    for (int32_t y = 5; y < 12; ++y) {
        for (int32_t x = -4; x < 5; ++x) {
            setPel(a.h, x, y, value(x, y));
        }
    }
    const kstd_rect32 narrowed{-3, 6, 7, 5};
    ASSERT_EQ(kimg_image_setWindowRect(&a.h, &narrowed, 0), 0);

    kimg_window w;
    ASSERT_EQ(kimg_window_init(&w, &a.h), 0);
    EXPECT_EQ(w.x, -3);
    EXPECT_EQ(w.y, 6);
    EXPECT_EQ(w.depth, depth);
    EXPECT_GE(w.pitch, 9);
    auto at = [&](const auto& win, int32_t i, int32_t j) {
        uint32_t v = 0;
        std::memcpy(&v, static_cast<const uint8_t*>(win.pixels) + (j * win.pitch + i) * win.depth, static_cast<size_t>(depth));
        return v;
    };
    EXPECT_EQ(at(w, 0, 0), value(-3, 6));

    const kstd_rect32 sub{-1, 7, 4, 3};
    kimg_windowConst c;
    ASSERT_EQ(kimg_windowConst_initWindow(&c, &a.h, &sub, 0), 0);
    EXPECT_EQ(at(c, 2, 1), value(1, 8));
    ASSERT_EQ(kimg_windowConst_window(&c, 1, 1, 2, 2, 0), 0);
    kstd_rect32 got;
    kimg_windowConst_getWindow(&c, &got);
    EXPECT_TRUE(sameRect(got, kstd_rect32{0, 8, 2, 2}));
    EXPECT_EQ(at(c, 1, 1), value(1, 9));
    EXPECT_EQ(kimg_windowConst_window(&c, 1, 1, 2, 2, 0), KOC_E_WINDOW_OUTSIDE_IMAGE);
    const kstd_rect32 one{1, 9, 1, 1};
    ASSERT_EQ(kimg_windowConst_windowRect(&c, &one), 0);
    EXPECT_EQ(at(c, 0, 0), value(1, 9));

    // A sub-window must stay inside the image's current window, not just the store.
    const kstd_rect32 inStoreOnly{-4, 5, 2, 2};
    EXPECT_EQ(kimg_window_initWindow(&w, &a.h, &inStoreOnly, 0), KOC_E_WINDOW_OUTSIDE_IMAGE);
    EXPECT_EQ(kimg_window_initWindow(&w, &a.h, &sub, 1), KOC_E_BAD_ARGUMENT);
    ASSERT_EQ(kimg_window_window(&w, 6, 4, 1, 1, 0), 0);
    EXPECT_EQ(at(w, 0, 0), value(3, 10));

    Image unbound;
    EXPECT_EQ(kimg_window_init(&w, &unbound.h), KOC_E_IMAGE_UNBOUND);
}

INSTANTIATE_TEST_SUITE_P(ImageDepths, ImagePixelWindow, ::testing::Values(KIMG_DEPTH_8, KIMG_DEPTH_16, KIMG_DEPTH_32));

// ---- transforms ----

TEST(ImageXform, SettingEitherDirectionStoresTheInverse)
{
    Image a;
    const kmath_xformLinear x{{2, 1, -0.5, 3}, {5, -7}};
    auto apply = [](const kmath_xformLinear& t, double px, double py) {
        return kmath_vect{t.matrix.a * px + t.matrix.b * py + t.trans.x, t.matrix.c * px + t.matrix.d * py + t.trans.y};
    };
    for (int direction = 0; direction < 2; ++direction) {
        ASSERT_EQ(direction == 0 ? kimg_image_setLinearClientFromImageXform(&a.h, &x)
                                 : kimg_imageConst_setLinearImageFromClientXform(&a.h, &x),
                  0);
        kmath_xformLinear forward, backward;
        ASSERT_EQ(kimg_image_getLinearClientFromImageXform(&a.h, &forward), 0);
        ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(&a.h, &backward), 0);
        EXPECT_EQ(std::memcmp(direction == 0 ? &forward : &backward, &x, sizeof x), 0);
        for (const auto& p : {kmath_vect{0, 0}, kmath_vect{3, -2}, kmath_vect{-11.5, 40}}) {
            const kmath_vect q = apply(backward, apply(forward, p.x, p.y).x, apply(forward, p.x, p.y).y);
            EXPECT_NEAR(q.x, p.x, 1e-12);
            EXPECT_NEAR(q.y, p.y, 1e-12);
        }
    }

    const kimg_image before = a.h;
    const kmath_xformLinear singular{{1, 2, 2, 4}, {1, 1}};
    EXPECT_EQ(kimg_image_setLinearClientFromImageXform(&a.h, &singular), KOC_E_SINGULAR_XFORM);
    EXPECT_EQ(kimg_image_setLinearImageFromClientXform(&a.h, &singular), KOC_E_SINGULAR_XFORM);
    EXPECT_TRUE(sameHandle(before, a.h));

    // Non-linear travels with copyXforms and blocks both getters until reset.
    Image b;
    kimg_image_setNonLinearXform(&a.h);
    kimg_image_copyXforms(&b.h, &a.h);
    kmath_xformLinear got;
    EXPECT_EQ(kimg_image_getLinearClientFromImageXform(&b.h, &got), KOC_E_NOT_LINEAR_XFORM);
    EXPECT_EQ(kimg_imageConst_getLinearImageFromClientXform(&b.h, &got), KOC_E_NOT_LINEAR_XFORM);
    kimg_image_setImageFromClientXformIdentity(&b.h);
    ASSERT_EQ(kimg_image_getLinearImageFromClientXform(&b.h, &got), 0);
    EXPECT_EQ(got.matrix.a, 1);
    EXPECT_EQ(got.trans.x, 0);
}

// ---- pixel maps ----

struct ThresholdCase {
    uint8_t threshold;
    uint8_t below;
    uint8_t atOrAbove;
};

class ImageThreshold : public ::testing::TestWithParam<ThresholdCase> {};

// In place on a handle whose store is shared: the sharer keeps its pixels.
TEST_P(ImageThreshold, MapsTheWindowInPlaceWithoutTouchingASharer)
{
    const ThresholdCase tc = GetParam();
    Image src(test::makeImage8(16, 3, [](int32_t x, int32_t y) { return x * 16 + y * 5; }));
    const kmath_xformLinear shift{{1, 0, 0, 1}, {-2, 9}};
    kimg_image_setLinearClientFromImageXform(&src.h, &shift);
    Image sharer;
    kimg_image_assign(&sharer.h, &src.h);
    const kstd_rect32 window{1, 1, 15, 2};
    kimg_image_setWindowRect(&src.h, &window, 0);

    ASSERT_EQ(kip_pelMapHardThreshold8(&src.h, tc.threshold, tc.below, tc.atOrAbove, &src.h), 0);
    EXPECT_TRUE(sameRect(windowOf(src.h), window));
    kmath_xformLinear got;
    kimg_image_getLinearClientFromImageXform(&src.h, &got);
    EXPECT_EQ(got.trans.y, 9);
    for (int32_t y = 1; y < 3; ++y) {
        for (int32_t x = 1; x < 16; ++x) {
            const uint32_t original = static_cast<uint32_t>((x * 16 + y * 5) & 0xff);
            ASSERT_EQ(pel(sharer.h, x, y), original);
            ASSERT_EQ(pel(src.h, x, y), original < tc.threshold ? tc.below : tc.atOrAbove) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ImageCases, ImageThreshold,
                         ::testing::Values(ThresholdCase{0, 1, 2}, ThresholdCase{255, 9, 0}, ThresholdCase{21, 0, 255},
                                           ThresholdCase{128, 255, 0}));

TEST(ImagePelOps, RefuseUnboundAndWideImages)
{
    Image unbound, wide, dst;
    kimg_image_assignNew(&wide.h, KIMG_DEPTH_16, 2, 2);
    EXPECT_EQ(kip_pelMapHardThreshold8(&unbound.h, 1, 0, 1, &dst.h), KOC_E_IMAGE_UNBOUND);
    EXPECT_EQ(kip_pelMapHardThreshold8(&wide.h, 1, 0, 1, &dst.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(kip_pelAssignCopyEntireConst8(&dst.h, &wide.h), KOC_E_IMAGE_DEPTH);
}

TEST(ImageCopy, CopiesTheWindowAtItsCoordinates)
{
    for (const bool entire8 : {false, true}) {
        Image src(test::makeImage8(9, 6, pattern));
        Image dst;
        const kstd_rect32 window{2, 1, 5, 4};
        kimg_image_setWindowRect(&src.h, &window, 0);
        kimg_image_setNonLinearXform(&src.h);
        ASSERT_EQ(entire8 ? kip_pelAssignCopyEntireConst8(&dst.h, &src.h) : kimg_image_assignCopy(&dst.h, &src.h), 0);
        EXPECT_TRUE(sameRect(windowOf(dst.h), window));
        int32_t linear = 1;
        kimg_image_getIsLinearXform(&dst.h, &linear);
        EXPECT_EQ(linear, 0);
        // The copy holds only the window: widening it back is refused.
        const kstd_rect32 full{0, 0, 9, 6};
        EXPECT_EQ(kimg_image_setWindowRect(&dst.h, &full, 0), KOC_E_WINDOW_OUTSIDE_IMAGE);
        for (int32_t y = 1; y < 5; ++y) {
            for (int32_t x = 2; x < 7; ++x) {
                EXPECT_EQ(pel(dst.h, x, y), pattern(x, y));
            }
        }
        // An unbound source leaves the destination unbound.
        Image unbound;
        ASSERT_EQ(entire8 ? kip_pelAssignCopyEntireConst8(&dst.h, &unbound.h) : kimg_image_assignCopy(&dst.h, &unbound.h), 0);
        EXPECT_EQ(dst.h.store, nullptr);
    }
}

// ---- run-length images ----

struct RlePattern {
    const char* name;
    int32_t width, height;
    uint8_t (*f)(int32_t, int32_t);
};

class RleRoundTrip : public ::testing::TestWithParam<RlePattern> {};

TEST_P(RleRoundTrip, ImageToRunsAndBackOverTheWindow)
{
    const RlePattern p = GetParam();
    Image src(test::makeImage8(p.width, p.height, p.f));
    const kstd_rect32 window{1, 2, p.width - 2, p.height - 3};
    kimg_image_setWindowRect(&src.h, &window, 0);
    Rle rle;
    ASSERT_EQ(kimg_imageRle_initFromImage8(&rle.h, &src.h), 0);

    kstd_rect32 rect;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    ASSERT_EQ(kimg_imageRle_getEncoding(&rle.h, &rect, &rowStart, &runs), 0);
    EXPECT_TRUE(sameRect(rect, window));
    EXPECT_EQ(rowStart[0], 0);
    for (int32_t r = 0; r < rect.height; ++r) {
        for (int32_t k = rowStart[r]; k < rowStart[r + 1]; ++k) {
            EXPECT_GT(runs[k].length, 0);
            EXPECT_GE(runs[k].x, rect.x);
            EXPECT_LE(runs[k].x + runs[k].length, rect.x + rect.width);
            if (k > rowStart[r]) {
                EXPECT_GT(runs[k].x, runs[k - 1].x + runs[k - 1].length) << "runs must be maximal";
            }
        }
    }

    Image out;
    const kmath_xformLinear keep{{1, 0, 0, 1}, {4, 4}};
    kimg_image_setLinearClientFromImageXform(&out.h, &keep);
    ASSERT_EQ(kimg_imageRle_render8(&rle.h, 77, &out.h), 0);
    EXPECT_TRUE(sameRect(windowOf(out.h), window));
    for (int32_t y = window.y; y < window.y + window.height; ++y) {
        for (int32_t x = window.x; x < window.x + window.width; ++x) {
            ASSERT_EQ(pel(out.h, x, y), p.f(x, y) != 0 ? 77u : 0u) << x << "," << y;
        }
    }
    kmath_xformLinear got;
    kimg_image_getLinearClientFromImageXform(&out.h, &got);
    EXPECT_EQ(got.trans.x, 4);
}

INSTANTIATE_TEST_SUITE_P(
    RlePatterns, RleRoundTrip,
    ::testing::Values(RlePattern{"Empty", 7, 6, [](int32_t, int32_t) -> uint8_t { return 0; }},
                      RlePattern{"Full", 7, 6, [](int32_t, int32_t) -> uint8_t { return 3; }},
                      RlePattern{"Checker", 9, 8, [](int32_t x, int32_t y) -> uint8_t { return (x + y) % 2 ? 1 : 0; }},
                      RlePattern{"Mixed", 23, 11, [](int32_t x, int32_t y) -> uint8_t { return pattern(x, y) > 5 ? pattern(x, y) : 0; }}),
    [](const auto& p) { return std::string(p.param.name); });

std::vector<std::pair<int32_t, int32_t>> rowRuns(const kimg_imageRle& rle, int32_t y)
{
    kstd_rect32 rect;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    kimg_imageRle_getEncoding(&rle, &rect, &rowStart, &runs);
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t k = rowStart[y - rect.y]; k < rowStart[y - rect.y + 1]; ++k) {
        out.emplace_back(runs[k].x, runs[k].length);
    }
    return out;
}

TEST(RleAddRun, KeepsRowsOrderedAndRefusesBadRuns)
{
    Rle rle, copy;
    const kstd_rect32 rect{-2, 10, 12, 3};
    EXPECT_EQ(kimg_imageRle_addRun(&rle.h, 10, 0, 1), KOC_E_BAD_ARGUMENT);  // unbound
    ASSERT_EQ(kimg_imageRle_assignEmpty(&rle.h, &rect), 0);
    // Rows out of order, a touching run merged, a gap kept.
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 12, -2, 3), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 0, 2), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 2, 3), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 10, 7, 3), 0);
    struct Run {
        int32_t y, x, length;
    };
    const Run bad[] = {{10, 8, 1}, {10, 5, 1}, {10, 12, 1}, {11, -3, 2}, {11, 9, 2},
                       {11, 0, 0}, {9, 0, 1},  {13, 0, 1},  {12, 0, 1}};
    for (const Run& b : bad) {
        EXPECT_EQ(kimg_imageRle_addRun(&rle.h, b.y, b.x, b.length), KOC_E_BAD_ARGUMENT) << b.y << " " << b.x;
    }
    using Runs = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(rowRuns(rle.h, 10), (Runs{{0, 5}, {7, 3}}));
    EXPECT_EQ(rowRuns(rle.h, 11), Runs{});
    EXPECT_EQ(rowRuns(rle.h, 12), (Runs{{-2, 3}}));

    // assign deep-copies: later runs on the source stay out of the copy.
    ASSERT_EQ(kimg_imageRle_assign(&copy.h, &rle.h), 0);
    ASSERT_EQ(kimg_imageRle_addRun(&rle.h, 11, 0, 1), 0);
    EXPECT_EQ(rowRuns(copy.h, 11), Runs{});
    EXPECT_EQ(rowRuns(rle.h, 11), (Runs{{0, 1}}));
}

TEST(RleAddRun, UnboundIsEmpty)
{
    Rle rle;
    Image out(test::makeImage8(2, 2, pattern));
    kstd_rect32 rect{1, 1, 1, 1};
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    ASSERT_EQ(kimg_imageRle_getEncoding(&rle.h, &rect, &rowStart, &runs), 0);
    EXPECT_EQ(rect.height, 0);
    EXPECT_EQ(rowStart[0], 0);
    ASSERT_EQ(kimg_imageRle_render8(&rle.h, 1, &out.h), 0);
    EXPECT_EQ(out.h.store, nullptr);
    Image wide;
    kimg_image_assignNew(&wide.h, KIMG_DEPTH_16, 2, 2);
    EXPECT_EQ(kimg_imageRle_initFromImage8(&rle.h, &wide.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(kimg_imageRle_initFromImage8(&rle.h, &out.h), KOC_E_IMAGE_UNBOUND);
}

// ---- range, mask and three-plane images ----

TEST(RangeImage, InitChecksDepthsAndWindowsAndSharesTransforms)
{
    Image depth16, mask, wrongMask, image8;
    kimg_image_assignNew(&depth16.h, KIMG_DEPTH_16, 6, 5);
    kimg_image_assignNew(&mask.h, KIMG_DEPTH_8, 6, 5);
    kimg_image_assignNew(&wrongMask.h, KIMG_DEPTH_8, 6, 4);
    kimg_image_assignNew(&image8.h, KIMG_DEPTH_8, 6, 5);
    const kmath_xformLinear scale{{2, 0, 0, 2}, {1, 1}};
    kimg_image_setLinearClientFromImageXform(&depth16.h, &scale);

    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &image8.h, &mask.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &depth16.h), KOC_E_IMAGE_DEPTH);
    EXPECT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &wrongMask.h), KOC_E_WINDOW_OUTSIDE_IMAGE);
    ASSERT_EQ(k3img_rangeImage16_init(&range, &depth16.h, &mask.h), 0);
    EXPECT_EQ(range.mask.clientFromImage.matrix.a, 2);

    // Windows move together; a window outside either store moves neither.
    const kstd_rect32 inner{1, 1, 3, 3};
    ASSERT_EQ(k3img_rangeImage16Const_setWindowRect(&range, &inner), 0);
    EXPECT_TRUE(sameRect(range.mask.window, inner));
    const kstd_rect32 outside{4, 0, 3, 3};
    EXPECT_EQ(k3img_rangeImage16Const_setWindowRect(&range, &outside), KOC_E_WINDOW_OUTSIDE_IMAGE);
    EXPECT_TRUE(sameRect(range.image.window, inner));

    Image viewImage, viewMask, constructed;
    k3img_rangeImage16Const_getImage(&range, &viewImage.h);
    k3img_rangeImage16Const_getMask(&range, &viewMask.h);
    kimg_image_destruct(&constructed.h);
    k3img_rangeImage16Const_constructImage16(&range, &constructed.h);
    setPel(depth16.h, 2, 2, 1234);
    setPel(mask.h, 2, 2, 1);
    EXPECT_EQ(pel(viewImage.h, 2, 2), 1234u);
    EXPECT_EQ(pel(constructed.h, 2, 2), 1234u);
    EXPECT_EQ(pel(viewMask.h, 2, 2), 1u);

    // Re-initialising with the stores it already holds, and with no mask.
    k3img_rangeImage16 again;
    k3img_rangeImage16_construct(&again);
    k3img_rangeImage16_assign(&again, &range);
    ASSERT_EQ(k3img_rangeImage16_init(&again, &again.image, &again.mask), 0);
    Image none;
    ASSERT_EQ(k3img_rangeImage16_init(&again, &depth16.h, &none.h), 0);
    EXPECT_EQ(again.mask.store, nullptr);
    k3img_rangeImage16_destruct(&again);
    k3img_rangeImage16_destruct(&range);
}

TEST(ImageMask, MaskAndPlanesShareOrOwnAsDocumented)
{
    kimg_maskImage m, other;
    kimg_maskImage_construct(&m);
    kimg_maskImage_construct(&other);
    kimg_image_assignNew(&m.image8, KIMG_DEPTH_8, 3, 3);
    kimg_maskImage_assign(&other, &m);
    Image view;
    kimg_maskImage_getImage8(&other, &view.h);
    EXPECT_EQ(view.h.store, m.image8.store);
    kimg_maskImage_destruct(&m);
    kimg_maskImage_destruct(&other);

    kimg_image3Plane8 planes;
    kimg_image3Plane8_construct(&planes);
    const kstd_rect32 rect{5, 5, 4, 2};
    ASSERT_EQ(kimg_image3Plane8_assignNewRect(&planes, &rect), 0);
    setPel(planes.planes[0], 5, 5, 9);
    EXPECT_EQ(pel(planes.planes[1], 5, 5), 0u);
    EXPECT_EQ(pel(planes.planes[2], 5, 5), 0u);
    EXPECT_TRUE(sameRect(windowOf(planes.planes[2]), rect));
    kimg_image3Plane8_destruct(&planes);
}

// ---- failure injection ----

// A fixed set of handles every operation below works on.
struct World {
    kimg_image src = test::makeImage8(7, 5, pattern);
    kimg_image dst;
    kimg_imageRle rle, rle2;
    kimg_image3Plane8 planes;
    World()
    {
        kimg_image_construct(&dst);
        kimg_image_assignNew(&dst, KIMG_DEPTH_8, 3, 3);
        kimg_imageRle_construct(&rle);
        kimg_imageRle_construct(&rle2);
        kimg_imageRle_initFromImage8(&rle, &src);
        const kstd_rect32 r{0, 0, 2, 2};
        kimg_imageRle_assignEmpty(&rle2, &r);
        kimg_image3Plane8_construct(&planes);
        kimg_image3Plane8_assignNewRect(&planes, &r);
        const kstd_rect32 window{1, 1, 5, 3};
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

struct Snapshot {
    kimg_image src, dst, planes[3];
    const void* rleStores[2];
    std::vector<std::pair<int32_t, int32_t>> rleRows[5];
    explicit Snapshot(const World& w) : src(w.src), dst(w.dst), rleStores{w.rle.store, w.rle2.store}
    {
        std::copy(std::begin(w.planes.planes), std::end(w.planes.planes), planes);
        for (int32_t y = 0; y < 5; ++y) {
            rleRows[y] = rowRuns(w.rle, y);
        }
    }
    bool operator==(const Snapshot& o) const
    {
        bool same = sameHandle(src, o.src) && sameHandle(dst, o.dst) && rleStores[0] == o.rleStores[0] &&
                    rleStores[1] == o.rleStores[1];
        for (int k = 0; k < 3; ++k) {
            same = same && sameHandle(planes[k], o.planes[k]);
        }
        for (int y = 0; y < 5; ++y) {
            same = same && rleRows[y] == o.rleRows[y];
        }
        return same;
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
    for (long k = 0;; ++k) {
        ASSERT_LT(k, 20) << "operation never succeeded";
        test::FailingAllocator alloc(setup + k);
        bool done = false;
        {
            World w;
            const Snapshot before(w);
            const int32_t rc = GetParam().run(w);
            if (alloc.failed()) {
                ++injected;
                EXPECT_EQ(rc, test::FailingAllocator::failureCode()) << "allocation " << k;
                EXPECT_TRUE(before == Snapshot(w)) << "allocation " << k;
            } else {
                EXPECT_EQ(rc, 0);
                done = true;
            }
        }
        EXPECT_EQ(alloc.liveBlocks(), 0) << "allocation " << k;
        if (done) {
            break;
        }
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
        Operation{"threePlanes",
                  [](World& w) {
                      const kstd_rect32 r{0, 0, 6, 6};
                      return kimg_image3Plane8_assignNewRect(&w.planes, &r);
                  }},
        Operation{"rleFromImage", [](World& w) { return kimg_imageRle_initFromImage8(&w.rle, &w.src); }},
        Operation{"rleAssign", [](World& w) { return kimg_imageRle_assign(&w.rle2, &w.rle); }},
        Operation{"rleAssignEmpty",
                  [](World& w) {
                      const kstd_rect32 r{0, 0, 9, 9};
                      return kimg_imageRle_assignEmpty(&w.rle, &r);
                  }},
        Operation{"rleAddRun", [](World& w) { return kimg_imageRle_addRun(&w.rle2, 0, 0, 1); }},
        Operation{"rleRender", [](World& w) { return kimg_imageRle_render8(&w.rle, 5, &w.dst); }}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
