// system.cpp: assertion reporting, the attention check, the process
// allocator and the processor-feature enabler.
#include <atomic>
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#endif
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "services/cpu_features.hpp"
#include "services/guard.hpp"
#include "koc/ksys.h"

namespace {

struct AssertState {
    ksys_assertHandler handler = nullptr;
    void* context = nullptr;
};

std::mutex& assertMutex()
{
    static std::mutex m;
    return m;
}

AssertState& assertState()
{
    static AssertState s;
    return s;
}

// The attention handlers. The process-wide pair is read under a mutex only
// when one was installed, so the common case (no handler) costs one atomic
// load per poll.
struct AttentionSlot {
    ksys_attentionHandler handler = nullptr;
    void* context = nullptr;
};

std::atomic<bool> gProcessAttentionInstalled{false};
std::mutex gProcessAttentionMutex;
AttentionSlot gProcessAttention;
thread_local AttentionSlot tThreadAttention;

// The allocator hooks; replaced only while no call runs (documented), so a
// plain copy guarded by a mutex for the writer is enough.
std::mutex gMemoryMutex;
std::atomic<const ksys_memoryHooks*> gMemoryHooks{nullptr};
ksys_memoryHooks gMemoryHooksStorage;

}  // namespace

namespace koc {

void reportAssertion(const char* file, int line) noexcept
{
    AssertState s;
    {
        std::lock_guard<std::mutex> lock(assertMutex());
        s = assertState();
    }
    if (s.handler != nullptr) {
        s.handler(s.context, file, line);
        return;
    }
    std::fprintf(stderr, "koc: precondition violated at %s:%d\n", file, line);
    std::abort();
}

}  // namespace koc

extern "C" {

KOC_API void kstd_assert_(int32_t line) noexcept
{
    koc::reportAssertion("(caller)", line);
}

KOC_API int32_t ksys_assert_setHandler(ksys_assertHandler handler, void* context, ksys_assertHandler* previous,
                                       void** previousContext) noexcept
{
    std::lock_guard<std::mutex> lock(assertMutex());
    if (previous != nullptr) {
        *previous = assertState().handler;
    }
    if (previousContext != nullptr) {
        *previousContext = assertState().context;
    }
    assertState().handler = handler;
    assertState().context = handler != nullptr ? context : nullptr;
    return 0;
}

KOC_API int32_t ksys_attention_setProcessHandler(ksys_attentionHandler handler, void* context) noexcept
{
    std::lock_guard<std::mutex> lock(gProcessAttentionMutex);
    gProcessAttention.handler = handler;
    gProcessAttention.context = context;
    gProcessAttentionInstalled.store(handler != nullptr, std::memory_order_release);
    return 0;
}

KOC_API int32_t ksys_attention_setThreadHandler(ksys_attentionHandler handler, void* context) noexcept
{
    tThreadAttention.handler = handler;
    tThreadAttention.context = context;
    return 0;
}

KOC_API int32_t ksys_attention_check(void) noexcept
{
    if (tThreadAttention.handler != nullptr) {
        const int32_t rc = tThreadAttention.handler(tThreadAttention.context);
        if (rc < 0) {
            return rc;
        }
    }
    if (gProcessAttentionInstalled.load(std::memory_order_acquire)) {
        AttentionSlot slot;
        {
            std::lock_guard<std::mutex> lock(gProcessAttentionMutex);
            slot = gProcessAttention;
        }
        if (slot.handler != nullptr) {
            const int32_t rc = slot.handler(slot.context);
            if (rc < 0) {
                return rc;
            }
        }
    }
    return 0;
}

KOC_API int32_t ksys_memory_alloc_internal(intptr_t size, void** block) noexcept
{
    KOC_ASSERT(block != nullptr);
    *block = nullptr;
    if (size < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
    if (const ksys_memoryHooks* hooks = gMemoryHooks.load(std::memory_order_acquire)) {
        const int32_t rc = hooks->allocate(hooks->context, static_cast<intptr_t>(bytes), block);
        if (rc < 0 || *block == nullptr) {
            *block = nullptr;
            return rc < 0 ? rc : KOC_E_OUT_OF_MEMORY;
        }
        return 0;
    }
    *block = std::malloc(bytes);
    return *block != nullptr ? 0 : KOC_E_OUT_OF_MEMORY;
}

KOC_API int32_t ksys_memory_free_internal(void** block) noexcept
{
    KOC_ASSERT(block != nullptr);
    if (*block != nullptr) {
        if (const ksys_memoryHooks* hooks = gMemoryHooks.load(std::memory_order_acquire)) {
            hooks->release(hooks->context, *block);
        } else {
            std::free(*block);
        }
        *block = nullptr;
    }
    return 0;
}

KOC_API int32_t ksys_memory_setHooks(const ksys_memoryHooks* hooks) noexcept
{
    std::lock_guard<std::mutex> lock(gMemoryMutex);
    if (hooks == nullptr || hooks->allocate == nullptr || hooks->release == nullptr) {
        gMemoryHooks.store(nullptr, std::memory_order_release);
        return 0;
    }
    gMemoryHooksStorage = *hooks;
    gMemoryHooks.store(&gMemoryHooksStorage, std::memory_order_release);
    return 0;
}

}  // extern "C"

namespace koc::services {

namespace {

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
// AVX2 needs the instructions (leaf 7) and the operating system's saving of
// the vector registers (OSXSAVE, AVX, and XCR0's SSE and AVX state bits).
// Asked directly rather than through the compiler's processor-model
// builtin, whose start-up constructor identifies the whole processor in
// every program that links it, library or not.
uint32_t detectFeatureBits() noexcept
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return 0u;
    }
    constexpr unsigned kOsxsave = 1u << 27, kAvx = 1u << 28;
    if ((c & kOsxsave) == 0 || (c & kAvx) == 0) {
        return 0u;
    }
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6u) != 6u || __get_cpuid_max(0, nullptr) < 7) {
        return 0u;
    }
    __cpuid_count(7, 0, a, b, c, d);
    constexpr unsigned kAvx2 = 1u << 5;
    return (b & kAvx2) != 0 ? KSYS_CPU_FEATURE_AVX2 : 0u;
}
#endif

}  // namespace

// The x86 kernels are built for AVX2 by function attribute and chosen at run
// time; elsewhere there are portable kernels only. The answer is asked once
// per process, on first use.
uint32_t cpuFeatureBits() noexcept
{
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    static const uint32_t bits = detectFeatureBits();
    return bits;
#else
    return 0u;
#endif
}

}  // namespace koc::services

extern "C" {

// The optimised kernels need no mode switched on (AVX2 state is always
// usable in user code), so the enabler has nothing to do.
KOC_API int32_t ksys_cpuinfo_init_(uint32_t, uint32_t) noexcept
{
    return 0;
}

// One process-wide record, filled on first use: both entry points read it
// on every call, and the processor count costs a read of the system's
// processor list each time it is asked (several microseconds, about a
// twentieth of a small line's whole run).
KOC_API int32_t ksys_cpuinfo_get(ksys_cpuinfo* info) noexcept
{
    KOC_ASSERT(info != nullptr);
    static const ksys_cpuinfo record = [] {
        const unsigned n = std::thread::hardware_concurrency();
        return ksys_cpuinfo{koc::services::cpuFeatureBits(), n == 0 ? 1 : static_cast<int32_t>(n)};
    }();
    *info = record;
    return 0;
}

}  // extern "C"
