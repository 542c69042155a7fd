// result_codes.cpp: names and messages of the result codes, for hosts and
// the command-line tool.
#include "koc/koc_result.h"

namespace {

struct CodeText {
    int32_t code;
    const char* name;
    const char* message;
};

#define KOC_CODE_TEXT(name, value, message) {static_cast<int32_t>(value##u), #name, message},
constexpr CodeText kCodes[] = {KOC_FOR_EACH_RESULT_CODE(KOC_CODE_TEXT)};
#undef KOC_CODE_TEXT

const CodeText* find(int32_t code) noexcept
{
    for (const CodeText& c : kCodes) {
        if (c.code == code) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

KOC_API const char* koc_resultName(int32_t code) noexcept
{
    if (const CodeText* c = find(code)) {
        return c->name;
    }
    return code >= 0 ? "KOC_SUCCESS" : "KOC_E_UNKNOWN";
}

KOC_API const char* koc_resultMessage(int32_t code) noexcept
{
    if (const CodeText* c = find(code)) {
        return c->message;
    }
    return code >= 0 ? "success" : "unknown failure (a code from a host handler or another library)";
}

}  // extern "C"
