#include "hostkit/SafeText.h"

#include <cstdio>

namespace hostkit {
namespace {

// The length of the UTF-8 sequence at `at` and its code point; 0 when the
// bytes there are not one (bad lead or continuation, overlong, surrogate,
// past U+10FFFF).
size_t Utf8Sequence(const std::string& text, size_t at, unsigned& point) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, point = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        point = point << 6 | (next & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string SafeText(const std::string& text) {
    std::string out;
    char escape[16];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned point = c;
        const size_t length = c < 0x80 ? 1 : Utf8Sequence(text, i, point);
        if (c == '\\') {
            out += "\\\\";
        } else if (length == 0 || point < 0x20 || point == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else if ((point >= 0x80 && point <= 0x9F) || (point >= 0x202A && point <= 0x202E) ||
                   (point >= 0x2066 && point <= 0x2069)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", point);
            out += escape;
        } else {
            out.append(text, i, length);
        }
        i += length == 0 ? 1 : length;
    }
    return out;
}

}  // namespace hostkit
