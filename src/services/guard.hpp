// guard.hpp: the boundary discipline every exported function follows:
// no exception crosses the C boundary, a callee's negative code goes back
// unchanged, and members of a record under construction are released only
// when the construction fails.
#pragma once

#include <new>
#include <utility>

#include "koc/koc_result.h"
#include "koc/kstd.h"

namespace koc {

// Reports a violated precondition with its place. Used through KOC_ASSERT.
void reportAssertion(const char* file, int line) noexcept;

// Our code does not throw; only the standard library can, with bad_alloc
// from a container. Anything else would be a defect, but must still not
// unwind into a C host.
template <class Body>
int32_t guarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return KOC_E_OUT_OF_MEMORY;
    } catch (...) {
        return KOC_E_INTERNAL;
    }
}

// Runs its action at scope exit unless dismissed: members of a record under
// construction sit behind these and unwind in reverse order on failure.
template <class Action>
class OnFailure {
public:
    explicit OnFailure(Action action) noexcept : action_(std::move(action)) {}
    OnFailure(const OnFailure&) = delete;
    OnFailure& operator=(const OnFailure&) = delete;
    ~OnFailure()
    {
        if (armed_) {
            action_();
        }
    }
    void dismiss() noexcept { armed_ = false; }

private:
    Action action_;
    bool armed_ = true;
};

// Runs its action on every exit (scratch resources the caller never sees).
template <class Action>
class Always {
public:
    explicit Always(Action action) noexcept : action_(std::move(action)) {}
    Always(const Always&) = delete;
    Always& operator=(const Always&) = delete;
    ~Always() { action_(); }

private:
    Action action_;
};

}  // namespace koc

// A null required pointer is a caller bug: report it through the assertion
// hook; if the host's hook returns, fail the call rather than crash.
#define KOC_ASSERT(cond)                                 \
    do {                                                 \
        if (!(cond)) {                                   \
            ::koc::reportAssertion(__FILE__, __LINE__);  \
            return KOC_E_BAD_ARGUMENT;                   \
        }                                                \
    } while (0)

// For internal invariants inside void contexts.
#define KOC_CHECK(cond)                                  \
    do {                                                 \
        if (!(cond)) {                                   \
            ::koc::reportAssertion(__FILE__, __LINE__);  \
        }                                                \
    } while (0)

#define KOC_RETURN_IF_FAILED(expr)             \
    do {                                       \
        const int32_t kocRc_ = (expr);         \
        if (kocRc_ < 0) {                      \
            return kocRc_;                     \
        }                                      \
    } while (0)
