// What every fuzz target (one translation unit each) shares: the property
// check, which names itself and aborts (a crash with its input to libFuzzer),
// fixed-size text fields, and the log sink.
#ifndef TESTS_UNIT_FUZZ_FUZZHARNESS_H
#define TESTS_UNIT_FUZZ_FUZZHARNESS_H

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Contracts/LogHandler.h"

#define Check(condition)                                                                       \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Formats every message as a real sink would, so a format that does not
// match its arguments shows up under the sanitizers, and drops it.
extern "C" void LogHandlerA(const char*, const char*, int, int, const char* format, ...) {
    if (format == nullptr) return;
    char text[4096];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
}

namespace fuzz {

// A fixed field as the library leaves it: NUL-terminated within its width
// and zero after the terminator (records start zeroed).
inline std::string FieldText(const char* field, size_t width) {
    const void* nul = std::memchr(field, '\0', width);
    Check(nul != nullptr);
    const size_t len = static_cast<size_t>(static_cast<const char*>(nul) - field);
    for (size_t i = len; i < width; ++i) Check(field[i] == '\0');
    return std::string(field, len);
}

// What a field holds after a copy of `source`: all of it when it fits (up to
// an embedded NUL), otherwise the longest prefix that leaves room for the
// terminator and does not end inside a UTF-8 sequence.
inline void CheckFieldCopy(const std::string& got, std::string source, size_t width) {
    source = source.substr(0, source.find('\0'));
    if (source.size() < width) {
        Check(got == source);
        return;
    }
    Check(got.size() < width && source.compare(0, got.size(), got) == 0);
    Check((static_cast<unsigned char>(source[got.size()]) & 0xC0) != 0x80);  // a whole character
    for (size_t i = got.size() + 1; i < width; ++i)
        Check((static_cast<unsigned char>(source[i]) & 0xC0) == 0x80);
}

}  // namespace fuzz

#endif  // TESTS_UNIT_FUZZ_FUZZHARNESS_H
