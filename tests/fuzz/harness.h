// What the fuzz targets share: a failed property ends the run with its own message (libFuzzer
// then keeps the input as a crash). Their LLVMFuzzerInitialize is in harness.cpp.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace gsms::fuzz {

// A property that must hold for every input.
#define FUZZ_CHECK(cond)                                                                    \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                         #cond);                                                            \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

inline bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// A text buffer of the engine ends within its size.
template <std::size_t N>
bool terminated(const char (&text)[N]) {
    return ::strnlen(text, N) < N;
}

}  // namespace gsms::fuzz
