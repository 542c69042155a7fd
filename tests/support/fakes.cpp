// fakes.cpp: the service test doubles.
#include "support/fakes.hpp"

#include <cstdlib>

namespace test {

FailingAllocator::FailingAllocator(long failAt, bool failAll) : failAt_(failAt), failAll_(failAll)
{
    const ksys_memoryHooks hooks{&FailingAllocator::allocate, &FailingAllocator::release, this};
    ksys_memory_setHooks(&hooks);
}

FailingAllocator::~FailingAllocator()
{
    ksys_memory_setHooks(nullptr);
}

int32_t FailingAllocator::allocate(void* context, intptr_t size, void** block)
{
    auto* self = static_cast<FailingAllocator*>(context);
    const long n = self->allocations_++;
    if (self->failAt_ >= 0 && (n == self->failAt_ || (self->failAll_ && n > self->failAt_))) {
        self->failed_ = true;
        *block = nullptr;
        return failureCode();
    }
    *block = std::malloc(static_cast<size_t>(size));
    if (*block == nullptr) {
        return KOC_E_OUT_OF_MEMORY;
    }
    ++self->live_;
    return 0;
}

void FailingAllocator::release(void* context, void* block)
{
    auto* self = static_cast<FailingAllocator*>(context);
    --self->live_;
    std::free(block);
}

TrippingAttention::TrippingAttention(long tripAt, int32_t code) : tripAt_(tripAt), code_(code)
{
    ksys_attention_setThreadHandler(&TrippingAttention::check, this);
}

TrippingAttention::~TrippingAttention()
{
    ksys_attention_setThreadHandler(nullptr, nullptr);
}

int32_t TrippingAttention::check(void* context)
{
    auto* self = static_cast<TrippingAttention*>(context);
    return self->polls_++ >= self->tripAt_ ? self->code_ : 0;
}

AssertionCatcher::AssertionCatcher()
{
    ksys_assert_setHandler(&AssertionCatcher::onAssert, this, &previous_, &previousContext_);
}

AssertionCatcher::~AssertionCatcher()
{
    ksys_assert_setHandler(previous_, previousContext_, nullptr, nullptr);
}

void AssertionCatcher::onAssert(void* context, const char* file, int32_t)
{
    auto* self = static_cast<AssertionCatcher*>(context);
    ++self->count_;
    self->lastFile_ = file != nullptr ? file : "";
}

}  // namespace test
