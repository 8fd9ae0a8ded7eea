// What every fuzz target (one translation unit each) shares: the property
// check, which names itself and aborts (a crash with its input to libFuzzer),
// the input as text, small text tests, a record's fixed-size text fields, and
// the log sink.
#ifndef TESTS_UNIT_FUZZ_FUZZHARNESS_H
#define TESTS_UNIT_FUZZ_FUZZHARNESS_H

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Contracts/LogHandler.h"
#include "Nimbra/Nimbra.h"

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

inline std::string Text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The pieces between the `at` bytes: one more than there are of them.
inline std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == at) pieces.emplace_back();
        if (c != at) pieces.back().push_back(c);
    }
    return pieces;
}

inline bool IsDecimal(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Neither first nor last byte is one of `blanks` (nor a NUL).
inline bool Trimmed(const std::string& s, const char* blanks = " \t\n\r\f\v") {
    return s.empty() || (!std::strchr(blanks, s.front()) && !std::strchr(blanks, s.back()));
}

// Every byte mapped onto printable ASCII.
inline std::string Printable(std::string text) {
    for (char& c : text) c = static_cast<char>(0x20 + static_cast<unsigned char>(c) % 0x5f);
    return text;
}

// A record's text fields, in their order: name, address and width.
struct Field {
    const char* name;
    char* text;
    size_t width;
};
inline std::vector<Field> RecordFields(_ST_UserInfo& r) {
    return {{"name", r.szName, sizeof r.szName},
            {"backup_name", r.szBackupName, sizeof r.szBackupName},
            {"date_time", r.szDateTime, sizeof r.szDateTime},
            {"file_path", r.szFilePath, sizeof r.szFilePath},
            {"file_name", r.szFileName, sizeof r.szFileName}};
}

// Raw bytes into a zeroed record's fields, up to `over` more than each width
// (cut to it): a field may fill its width without terminator.
inline void FillFields(FuzzedDataProvider& fdp, const std::vector<Field>& fields, size_t over) {
    for (const Field& f : fields) {
        const std::string bytes = fdp.ConsumeRandomLengthString(f.width + over);
        std::memcpy(f.text, bytes.data(), std::min(bytes.size(), f.width));
    }
}

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
