// fakes.hpp: test doubles for the process services: an allocator that fails
// on demand and counts live blocks, an attention check that trips after n
// polls, and an assertion hook that records instead of aborting.
#pragma once

#include <cstdint>
#include <string>

#include "koc/koc.h"

namespace test {

// Installed for its lifetime; allocation number failAt (0-based) and every
// later one fail when failAll is set, only that one otherwise. failAt < 0
// never fails.
class FailingAllocator {
public:
    explicit FailingAllocator(long failAt = -1, bool failAll = false);
    ~FailingAllocator();
    FailingAllocator(const FailingAllocator&) = delete;
    FailingAllocator& operator=(const FailingAllocator&) = delete;

    long allocations() const { return allocations_; }
    long liveBlocks() const { return live_; }
    bool failed() const { return failed_; }
    static constexpr int32_t failureCode() { return KOC_E_OUT_OF_MEMORY; }

private:
    static int32_t allocate(void* context, intptr_t size, void** block);
    static void release(void* context, void* block);
    long failAt_;
    bool failAll_;
    long allocations_ = 0;
    long live_ = 0;
    bool failed_ = false;
};

// Thread attention handler that answers code from poll number tripAt (0-based) on.
class TrippingAttention {
public:
    explicit TrippingAttention(long tripAt, int32_t code = KOC_E_CANCELLED);
    ~TrippingAttention();
    long polls() const { return polls_; }

private:
    static int32_t check(void* context);
    long tripAt_;
    int32_t code_;
    long polls_ = 0;
};

// Records violated preconditions instead of aborting, for its lifetime.
class AssertionCatcher {
public:
    AssertionCatcher();
    ~AssertionCatcher();
    int count() const { return count_; }
    const std::string& lastFile() const { return lastFile_; }

private:
    static void onAssert(void* context, const char* file, int32_t line);
    ksys_assertHandler previous_ = nullptr;
    void* previousContext_ = nullptr;
    int count_ = 0;
    std::string lastFile_;
};

// An image handle owned for the test's scope: empty, or one made elsewhere.
// Declared after a FailingAllocator, it is released before the count is read.
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

// Makes an 8-bit image of width x height filled by f(x, y).
template <class F>
kimg_image makeImage8(int32_t width, int32_t height, F f)
{
    kimg_image image;
    kimg_image_construct(&image);
    kimg_image_assignNew(&image, KIMG_DEPTH_8, width, height);
    kimg_window w;
    kimg_window_init(&w, &image);
    for (int32_t y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(w.pixels) + y * w.pitch;
        for (int32_t x = 0; x < width; ++x) {
            row[x] = static_cast<uint8_t>(f(x, y));
        }
    }
    return image;
}

// Pixel (x, y) of an 8-bit image, counted from its window's corner; -1 when
// the image has no pixels.
inline int pixel8(const kimg_image& image, int32_t x, int32_t y)
{
    kimg_windowConst w;
    if (kimg_windowConst_init(&w, &image) < 0) return -1;
    return static_cast<const uint8_t*>(w.pixels)[y * w.pitch + x];
}

}  // namespace test
