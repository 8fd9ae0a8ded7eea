// String utilities: bounded formatting, case-blind comparison, replacement,
// splitting, locale and UTF-8 conversions, markers, trimming.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <regex>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"

namespace KestLib {

// Upper-cases each element in place with the C library's toupper under the
// current locale. A narrow byte goes in as a signed char value, as the C
// library tables accept (-128..255); a wide value outside that range has no
// single-byte case mapping and stays as it is.
template <typename StrT>
__attribute__((visibility("hidden"))) void StrToUpper(StrT& str) {
    for (auto& ch : str) {
        long nValue;
        if constexpr (sizeof(ch) == 1) {
            nValue = static_cast<signed char>(ch);
        } else {
            nValue = static_cast<long>(ch);
        }
        if (nValue >= -128 && nValue <= 255) {
            ch = static_cast<typename StrT::value_type>(toupper(static_cast<int>(nValue)));
        }
    }
}

namespace {

constexpr size_t kFormatChars = 4096;

template <typename StrT>
constexpr typename StrT::value_type Ch(char c) {
    return static_cast<typename StrT::value_type>(c);
}

int CompareElements(const char* pLeft, const char* pRight, size_t n) {
    return memcmp(pLeft, pRight, n);
}
int CompareElements(const wchar_t* pLeft, const wchar_t* pRight, size_t n) {
    return wmemcmp(pLeft, pRight, n);
}

template <typename StrT>
int CompareNoCase(StrT strLeft, StrT strRight) {
    StrToUpper(strLeft);
    StrToUpper(strRight);
    const size_t nCommon = std::min(strLeft.size(), strRight.size());
    const int nResult = CompareElements(strLeft.data(), strRight.data(), nCommon);
    if (nResult != 0) return nResult;
    if (strLeft.size() == strRight.size()) return 0;
    return strLeft.size() < strRight.size() ? -1 : 1;
}

// One left-to-right pass over the original text: replaced text is never
// searched again, so this equals replacing in place and resuming after each
// inserted replacement, without the quadratic shifting.
template <typename StrT>
void ReplaceAll(StrT& strText, const StrT& strSearch, const StrT& strReplace) {
    if (strSearch == strReplace || strSearch.empty()) return;
    StrT strOut;
    size_t nPos = 0;
    bool bChanged = false;
    for (size_t nFound; (nFound = strText.find(strSearch, nPos)) != StrT::npos;
         nPos = nFound + strSearch.size()) {
        strOut.append(strText, nPos, nFound - nPos);
        strOut.append(strReplace);
        bChanged = true;
    }
    if (!bChanged) return;
    strOut.append(strText, nPos, StrT::npos);
    strText.swap(strOut);
}

template <typename StrT>
void Split(const StrT& strText, const StrT& strDelimiter, std::vector<StrT>& vecPieces) {
    using Iter = typename StrT::const_iterator;
    using CharT = typename StrT::value_type;
    // Compiling first: an invalid expression throws before anything is appended.
    const std::basic_regex<CharT> re(strDelimiter, std::regex_constants::ECMAScript);
    std::vector<StrT> vecFound;
    size_t nPos = 0;
    bool bMatched = false;
    // The iterator steps past an empty match, so expressions that can match
    // empty text terminate too.
    for (std::regex_iterator<Iter> it(strText.begin(), strText.end(), re), end; it != end; ++it) {
        const size_t nMatch = static_cast<size_t>(it->position(0));
        vecFound.push_back(strText.substr(nPos, nMatch - nPos));
        nPos = nMatch + static_cast<size_t>(it->length(0));
        bMatched = true;
    }
    if (!bMatched) {
        vecFound.push_back(strText);
    } else if (nPos < strText.size()) {
        vecFound.push_back(strText.substr(nPos));
    }
    vecPieces.insert(vecPieces.end(), std::make_move_iterator(vecFound.begin()),
                     std::make_move_iterator(vecFound.end()));
}

template <typename StrT>
void TrimRun(StrT& strText, typename StrT::value_type ch) {
    const size_t nFirst = strText.find_first_not_of(ch);
    if (nFirst == StrT::npos) {
        strText.clear();
        return;
    }
    strText.erase(0, nFirst);
    strText.erase(strText.find_last_not_of(ch) + 1);
}

// Leading then trailing spaces, then leading then trailing tabs: a space
// enclosed by tabs survives.
template <typename StrT>
void Trim(StrT& strText) {
    TrimRun(strText, Ch<StrT>(' '));
    TrimRun(strText, Ch<StrT>('\t'));
}

template <typename StrT>
StrT GetMidStr(const StrT& strSource, const StrT& strStart, const StrT& strEnd, int nStart) {
    if (nStart < 0 || strStart.empty() || strEnd.empty() ||
        static_cast<size_t>(nStart) > strSource.size()) {
        return StrT();
    }
    const size_t nBegin = strSource.find(strStart, static_cast<size_t>(nStart));
    if (nBegin == StrT::npos) return StrT();
    const size_t nFrom = nBegin + strStart.size();
    const size_t nEnd = strSource.find(strEnd, nFrom);
    if (nEnd == StrT::npos) return StrT();
    StrT strMid = strSource.substr(nFrom, nEnd - nFrom);
    Trim(strMid);
    return strMid;
}

template <typename StrT>
bool IsNum(const StrT& strText) {
    if (strText.empty()) return false;
    for (auto ch : strText) {
        if (ch < Ch<StrT>('0') || ch > Ch<StrT>('9')) return false;
    }
    return true;
}

template <typename StrT>
void EnsureLastChar(StrT& strText, typename StrT::value_type ch) {
    if (strText.empty() || strText.back() != ch) strText.push_back(ch);
}

bool IsUnicodeScalar(uint32_t nCode) {
    return nCode <= 0x10FFFF && (nCode < 0xD800 || nCode > 0xDFFF);
}

}  // namespace

char* StrFormatArgBufferA(const char* szFormat, va_list args) {
    char* pBuffer = new (std::nothrow) char[kFormatChars + 1]();
    if (pBuffer != nullptr && szFormat != nullptr) {
        vsnprintf(pBuffer, kFormatChars + 1, szFormat, args);
    }
    return pBuffer;
}

wchar_t* StrFormatArgBufferW(const wchar_t* szFormat, va_list args) {
    wchar_t* pBuffer = new (std::nothrow) wchar_t[kFormatChars + 1]();
    if (pBuffer != nullptr && szFormat != nullptr) {
        // vswprintf fails on overlong output without a guaranteed terminator;
        // the buffer starts zeroed and the last element is forced to NUL, so
        // the text is the output cut at 4096 characters.
        vswprintf(pBuffer, kFormatChars + 1, szFormat, args);
        pBuffer[kFormatChars] = L'\0';
    }
    return pBuffer;
}

std::string StrFormatA(const char* szFormat, ...) {
    if (szFormat == nullptr) return std::string();
    va_list args;
    va_start(args, szFormat);
    std::unique_ptr<char[]> pBuffer(StrFormatArgBufferA(szFormat, args));
    va_end(args);
    return pBuffer ? std::string(pBuffer.get()) : std::string();
}

std::wstring StrFormatW(const wchar_t* szFormat, ...) {
    if (szFormat == nullptr) return std::wstring();
    va_list args;
    va_start(args, szFormat);
    std::unique_ptr<wchar_t[]> pBuffer(StrFormatArgBufferW(szFormat, args));
    va_end(args);
    return pBuffer ? std::wstring(pBuffer.get()) : std::wstring();
}

int StrCompareNoCaseA(std::string strLeft, std::string strRight) {
    return CompareNoCase(std::move(strLeft), std::move(strRight));
}
int StrCompareNoCaseW(std::wstring strLeft, std::wstring strRight) {
    return CompareNoCase(std::move(strLeft), std::move(strRight));
}

void StrReplaceAllA(std::string& strText, std::string strSearch, std::string strReplace) {
    ReplaceAll(strText, strSearch, strReplace);
}
void StrReplaceAllW(std::wstring& strText, std::wstring strSearch, std::wstring strReplace) {
    ReplaceAll(strText, strSearch, strReplace);
}

void StrSplitA(std::string strText, std::string strDelimiter, std::vector<std::string>& vecPieces) {
    Split(strText, strDelimiter, vecPieces);
}
void StrSplitW(std::wstring strText, std::wstring strDelimiter,
               std::vector<std::wstring>& vecPieces) {
    Split(strText, strDelimiter, vecPieces);
}

bool StrCA2WExact(const std::string& strNarrow, std::wstring& strWide) {
    strWide.clear();
    std::mbstate_t state{};
    const char* p = strNarrow.data();
    size_t nLeft = strNarrow.size();
    while (nLeft > 0) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, p, nLeft, &state);
        if (n == 0 || n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
            return false;  // a NUL, an invalid or an incomplete sequence
        }
        strWide.push_back(wc);
        if (n != static_cast<size_t>(-3)) {
            p += n;
            nLeft -= n;
        }
    }
    return true;
}

bool StrCW2AExact(const std::wstring& strWide, std::string& strNarrow) {
    strNarrow.clear();
    const size_t nRoom = strWide.size() * 4;
    std::mbstate_t state{};
    char szBytes[MB_LEN_MAX];
    for (wchar_t wc : strWide) {
        if (wc == L'\0') return false;
        const size_t n = std::wcrtomb(szBytes, wc, &state);
        if (n == static_cast<size_t>(-1) || strNarrow.size() + n > nRoom) return false;
        strNarrow.append(szBytes, n);
    }
    return true;
}

std::wstring StrCA2W(std::string strText) {
    std::wstring strWide;
    StrCA2WExact(strText, strWide);
    return strWide;
}

std::string StrCW2A(std::wstring strText) {
    std::string strNarrow;
    StrCW2AExact(strText, strNarrow);
    return strNarrow;
}

std::string StrUtf8ToStringA(std::string strText) {
    return strText;
}
std::string StrToUtf8A(std::string strText) {
    return strText;
}

std::wstring StrUtf8ToStringW(std::string strText) {
    std::wstring strWide;
    const size_t nSize = strText.size();
    size_t i = 0;
    while (i < nSize) {
        const auto nLead = static_cast<unsigned char>(strText[i]);
        uint32_t nCode;
        size_t nLength;
        if (nLead == 0) {
            break;
        } else if (nLead < 0x80) {
            nCode = nLead;
            nLength = 1;
        } else if (nLead >= 0xC2 && nLead <= 0xDF) {
            nCode = nLead & 0x1Fu;
            nLength = 2;
        } else if (nLead >= 0xE0 && nLead <= 0xEF) {
            nCode = nLead & 0x0Fu;
            nLength = 3;
        } else if (nLead >= 0xF0 && nLead <= 0xF4) {
            nCode = nLead & 0x07u;
            nLength = 4;
        } else {
            break;
        }
        if (nSize - i < nLength) break;
        size_t k = 1;
        for (; k < nLength; ++k) {
            const auto nNext = static_cast<unsigned char>(strText[i + k]);
            if ((nNext & 0xC0u) != 0x80u) break;
            nCode = (nCode << 6) | (nNext & 0x3Fu);
        }
        if (k != nLength) break;
        const bool bOverlong = (nLength == 3 && nCode < 0x800) || (nLength == 4 && nCode < 0x10000);
        if (bOverlong || !IsUnicodeScalar(nCode)) break;
        strWide.push_back(static_cast<wchar_t>(nCode));
        i += nLength;
    }
    return strWide;
}

std::string StrToUtf8W(std::wstring strText) {
    std::string strUtf8;
    for (wchar_t wc : strText) {
        const auto nCode = static_cast<uint32_t>(wc);
        if (nCode == 0 || !IsUnicodeScalar(nCode)) break;
        if (nCode < 0x80) {
            strUtf8.push_back(static_cast<char>(nCode));
        } else if (nCode < 0x800) {
            strUtf8.push_back(static_cast<char>(0xC0 | (nCode >> 6)));
            strUtf8.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        } else if (nCode < 0x10000) {
            strUtf8.push_back(static_cast<char>(0xE0 | (nCode >> 12)));
            strUtf8.push_back(static_cast<char>(0x80 | ((nCode >> 6) & 0x3F)));
            strUtf8.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        } else {
            strUtf8.push_back(static_cast<char>(0xF0 | (nCode >> 18)));
            strUtf8.push_back(static_cast<char>(0x80 | ((nCode >> 12) & 0x3F)));
            strUtf8.push_back(static_cast<char>(0x80 | ((nCode >> 6) & 0x3F)));
            strUtf8.push_back(static_cast<char>(0x80 | (nCode & 0x3F)));
        }
    }
    return strUtf8;
}

std::string StrGetMidStrA(std::string strSource, std::string strStart, std::string strEnd,
                          int nStart) {
    return GetMidStr(strSource, strStart, strEnd, nStart);
}
std::wstring StrGetMidStrW(std::wstring strSource, std::wstring strStart, std::wstring strEnd,
                           int nStart) {
    return GetMidStr(strSource, strStart, strEnd, nStart);
}

void StrTrimA(std::string& strText) {
    Trim(strText);
}
void StrTrimW(std::wstring& strText) {
    Trim(strText);
}

bool StrIsNumA(std::string strText) {
    return IsNum(strText);
}
bool StrIsNumW(std::wstring strText) {
    return IsNum(strText);
}

void StrEnsureLastCharExistA(std::string& strText, char cLast) {
    EnsureLastChar(strText, cLast);
}
void StrEnsureLastCharExistW(std::wstring& strText, char cLast) {
    EnsureLastChar(strText, static_cast<wchar_t>(static_cast<unsigned char>(cLast)));
}

}  // namespace KestLib
