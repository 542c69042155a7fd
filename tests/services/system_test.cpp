// system_test.cpp: the process services a host installs handlers into, and
// the result-code texts.
#include <atomic>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

int32_t cancelAlways(void*) { return KOC_E_CANCELLED; }

int32_t countAndPass(void* context)
{
    ++*static_cast<std::atomic<int>*>(context);
    return 0;
}

TEST(Attention, ThreadHandlerOnlyAffectsItsOwnThread)
{
    EXPECT_EQ(0, ksys_attention_check());
    ksys_attention_setThreadHandler(&cancelAlways, nullptr);
    EXPECT_EQ(KOC_E_CANCELLED, ksys_attention_check());
    int32_t other = -1;
    std::thread([&] { other = ksys_attention_check(); }).join();
    EXPECT_EQ(0, other);
    ksys_attention_setThreadHandler(nullptr, nullptr);
    EXPECT_EQ(0, ksys_attention_check());
}

TEST(Attention, ProcessHandlerIsPolledFromEveryThreadAfterTheThreadHandler)
{
    std::atomic<int> polls{0};
    ksys_attention_setProcessHandler(&countAndPass, &polls);
    std::thread([] { ksys_attention_check(); }).join();
    ksys_attention_check();
    EXPECT_EQ(2, polls.load());
    // A refusing thread handler answers first; the process handler is not asked.
    ksys_attention_setThreadHandler(&cancelAlways, nullptr);
    EXPECT_EQ(KOC_E_CANCELLED, ksys_attention_check());
    EXPECT_EQ(2, polls.load());
    ksys_attention_setThreadHandler(nullptr, nullptr);
    ksys_attention_setProcessHandler(&cancelAlways, nullptr);
    EXPECT_EQ(KOC_E_CANCELLED, ksys_attention_check());
    ksys_attention_setProcessHandler(nullptr, nullptr);
    EXPECT_EQ(0, ksys_attention_check());
}

TEST(Assertion, HostHandlerSeesTheViolationAndTheCallFailsCleanly)
{
    test::AssertionCatcher catcher;
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, koc_charSegmentRunParams_validate(nullptr));
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kstd_vector32s_construct(nullptr, 1));
    EXPECT_EQ(2, catcher.count());
    EXPECT_NE(std::string::npos, catcher.lastFile().find("vector_family"));  // where the check sits
}

TEST(AssertionDeathTest, DefaultHandlerReportsAndAborts)
{
    EXPECT_DEATH(koc_charSegmentRunParams_validate(nullptr), "precondition violated");
}

TEST(Memory, HooksSeeEveryBlockAndFailuresComeBackAsTheirCode)
{
    {
        test::FailingAllocator counting;
        void* block = nullptr;
        ASSERT_EQ(0, ksys_memory_alloc_internal(64, &block));
        EXPECT_EQ(1, counting.liveBlocks());
        ksys_memory_free_internal(&block);
        EXPECT_EQ(nullptr, block);
        EXPECT_EQ(0, counting.liveBlocks());
    }
    test::FailingAllocator failing(0);
    void* block = reinterpret_cast<void*>(1);
    EXPECT_EQ(test::FailingAllocator::failureCode(), ksys_memory_alloc_internal(8, &block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, ksys_memory_alloc_internal(-1, &block));
}

TEST(ResultCodes, EveryListedCodeHasADistinctNameAndAMessage)
{
    std::set<std::string> names;
#define CHECK_CODE(name, value, message)                                        \
    EXPECT_STREQ(#name, koc_resultName(static_cast<int32_t>(value##u)));        \
    EXPECT_STREQ(message, koc_resultMessage(static_cast<int32_t>(value##u)));   \
    EXPECT_TRUE(names.insert(#name).second) << #name;
    KOC_FOR_EACH_RESULT_CODE(CHECK_CODE)
#undef CHECK_CODE
    EXPECT_STREQ("KOC_E_UNKNOWN", koc_resultName(static_cast<int32_t>(0x8000ffffu)));
    EXPECT_STRNE("", koc_resultMessage(static_cast<int32_t>(0x8000ffffu)));
    EXPECT_STREQ("KOC_SUCCESS", koc_resultName(7));
    EXPECT_EQ(static_cast<int32_t>(0x800013adu), KOC_E_NOT_COMPUTED);
}

TEST(CpuInfo, EnablerIsHarmlessAndReportsTheOptimisedKernelsThatCanRun)
{
    EXPECT_EQ(0, ksys_cpuinfo_init_(0, 14));
    ksys_cpuinfo info{};
    ASSERT_EQ(0, ksys_cpuinfo_get(&info));
    EXPECT_EQ(0u, info.featureBits & ~KSYS_CPU_FEATURE_AVX2);
#if defined(__x86_64__) && defined(__GNUC__)
    EXPECT_EQ(info.featureBits != 0, __builtin_cpu_supports("avx2") != 0);
#endif
    EXPECT_GE(info.logicalProcessors, 1);
}

}  // namespace
