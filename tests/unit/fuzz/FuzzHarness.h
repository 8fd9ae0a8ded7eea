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
// terminator and ends between characters. Characters are found from the
// start, as a decoder finds them: a lead byte with all the continuation
// bytes it announces is one, any other byte (invalid UTF-8) one on its own.
inline void CheckFieldCopy(const std::string& got, std::string source, size_t width) {
    source = source.substr(0, source.find('\0'));
    size_t end = 0;  // of the last character that fits
    for (size_t at = 0, n = 1; at < width && at <= source.size(); at += n) {
        end = at;
        const unsigned char lead = static_cast<unsigned char>(source[at]);
        n = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        for (size_t i = 1; i < n; ++i)
            if (at + i >= source.size() ||
                (static_cast<unsigned char>(source[at + i]) & 0xC0) != 0x80)
                n = 1;
    }
    Check(got == source.substr(0, source.size() < width ? source.size() : end));
}

}  // namespace fuzz

#endif  // TESTS_UNIT_FUZZ_FUZZHARNESS_H
