// Text into the fixed-size character fields of the records the host reads
// (_ST_UserInfo, _ST_RemotePathInfo).
#ifndef NIMBRA_FIXEDFIELD_H
#define NIMBRA_FIXEDFIELD_H

#include <cstddef>
#include <cstring>

// The length of the UTF-8 character at szText: its lead byte's length when
// every continuation byte it announces follows, otherwise 1. A byte that
// starts no whole character (a stray continuation byte, a cut sequence, an
// invalid lead byte) stands alone, as a decoder replaces each such byte by
// one substitute character.
inline size_t Utf8CharLength(const char* szText) {
    const unsigned char c = static_cast<unsigned char>(*szText);
    const size_t nLength = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
    for (size_t i = 1; i < nLength; ++i)  // stops at the terminator, no continuation byte
        if ((static_cast<unsigned char>(szText[i]) & 0xC0) != 0x80) return 1;
    return nLength;
}

// Copies a UTF-8 text into a fixed field, always NUL-terminated. A text too
// long is cut before the character that would not fit with the terminator.
// In invalid UTF-8 each stray byte counts as a character of its own, so a
// run of them is cut where the field ends, not dropped whole.
inline void CopyToField(char* szField, size_t nFieldSize, const char* szText) {
    if (nFieldSize == 0) return;
    const size_t nMax = nFieldSize - 1;
    size_t nLen = strnlen(szText, nMax + 1);
    if (nLen > nMax) {
        // The character at the cut starts at most three bytes before it.
        nLen = nMax;
        size_t nStart = nMax;
        while (nStart > 0 && nMax - nStart < 3 &&
               (static_cast<unsigned char>(szText[nStart]) & 0xC0) == 0x80)
            --nStart;
        if (nStart + Utf8CharLength(szText + nStart) > nMax) nLen = nStart;
    }
    std::memcpy(szField, szText, nLen);
    szField[nLen] = '\0';
}

#endif  // NIMBRA_FIXEDFIELD_H
