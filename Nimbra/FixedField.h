// Text into the fixed-size character fields of the records the host reads
// (_ST_UserInfo, _ST_RemotePathInfo).
#ifndef NIMBRA_FIXEDFIELD_H
#define NIMBRA_FIXEDFIELD_H

#include <cstddef>
#include <cstring>

// Copies a UTF-8 text into a fixed field: cut at a character boundary so
// that it fits with its terminator; always NUL-terminated.
inline void CopyToField(char* szField, size_t nFieldSize, const char* szText) {
    if (nFieldSize == 0) return;
    const size_t nMax = nFieldSize - 1;
    size_t nLen = strnlen(szText, nMax + 1);
    if (nLen > nMax) {
        // Back up over continuation bytes to the start of the cut character.
        nLen = nMax;
        while (nLen > 0 && (static_cast<unsigned char>(szText[nLen]) & 0xC0) == 0x80) --nLen;
    }
    std::memcpy(szField, szText, nLen);
    szField[nLen] = '\0';
}

#endif  // NIMBRA_FIXEDFIELD_H
