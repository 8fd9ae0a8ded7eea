// Formatting, comparison, replacement, splitting, conversions, trimming and
// markers.
#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <regex>

#include "KestLib/KestLib.h"
#include "tests/kestlib/TestUtil.h"

using namespace KestLib;

namespace {

using Pieces = std::vector<std::string>;

std::unique_ptr<char[]> FormatBuffer(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::unique_ptr<char[]> buf(StrFormatArgBufferA(format, args));
    va_end(args);
    return buf;
}

std::unique_ptr<wchar_t[]> FormatBufferW(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::unique_ptr<wchar_t[]> buf(StrFormatArgBufferW(format, args));
    va_end(args);
    return buf;
}

TEST(Formatting, NarrowTextsUpTo4096Characters) {
    EXPECT_EQ(StrFormatA(nullptr), "");
    EXPECT_EQ(StrFormatA("%s%s%s", "a", "/", "b"), "a/b");
    EXPECT_EQ(StrFormatA("%d-%05.1f-%c", -12, 2.25, 'z'), "-12-002.2-z");
    const std::string big(5000, 'x');
    EXPECT_EQ(StrFormatA("%s", big.c_str()), big.substr(0, 4096));
    EXPECT_EQ(StrFormatA("%s!", big.substr(0, 4095).c_str()), big.substr(0, 4095) + "!");
    EXPECT_EQ(StrFormatA(big.c_str()), big.substr(0, 4096));  // a 5000-character format

    auto buf = FormatBuffer("%s=%d", "n", 5);
    ASSERT_TRUE(buf);
    EXPECT_STREQ(buf.get(), "n=5");
    buf = FormatBuffer("%s", big.c_str());
    EXPECT_EQ(std::string(buf.get()), big.substr(0, 4096));
    EXPECT_EQ(buf[4096], '\0');
    buf = FormatBuffer(nullptr);
    ASSERT_TRUE(buf);
    EXPECT_STREQ(buf.get(), "");
}

TEST(Formatting, WideTextsUpTo4096Characters) {
    EXPECT_EQ(StrFormatW(nullptr), L"");
    EXPECT_EQ(StrFormatW(L"%ls=%d", L"n", 5), L"n=5");
    const std::wstring big(5000, L'y');
    EXPECT_EQ(StrFormatW(L"%ls", big.c_str()), big.substr(0, 4096));
    EXPECT_EQ(StrFormatW(big.c_str()), big.substr(0, 4096));
    auto buf = FormatBufferW(L"%d%ls", 7, L"z");
    ASSERT_TRUE(buf);
    EXPECT_EQ(std::wstring(buf.get()), L"7z");
    buf = FormatBufferW(L"%ls", big.c_str());
    EXPECT_EQ(std::wstring(buf.get()), big.substr(0, 4096));
    buf = FormatBufferW(nullptr);
    ASSERT_TRUE(buf);
    EXPECT_EQ(buf[0], L'\0');
}

TEST(CompareReplaceSplit, CompareIgnoresCaseAndOrdersBytesUnsigned) {
    EXPECT_EQ(StrCompareNoCaseA("abc", "ABC"), 0);
    EXPECT_LT(StrCompareNoCaseA("ab", "ABC"), 0);
    EXPECT_GT(StrCompareNoCaseA("b", "A"), 0);
    EXPECT_EQ(StrCompareNoCaseA("", ""), 0);
    EXPECT_GT(StrCompareNoCaseA("\x80", "z"), 0);  // 0x80 above 'Z' as unsigned bytes
    EXPECT_LT(StrCompareNoCaseA("a_", "A\xE9"), 0);
    EXPECT_EQ(StrCompareNoCaseW(L"MiXeD", L"mixed"), 0);
    EXPECT_LT(StrCompareNoCaseW(L"a", L"B"), 0);
    EXPECT_GT(StrCompareNoCaseW(L"\u4e00", L"z"), 0);
}

TEST(CompareReplaceSplit, ReplaceIsOneLeftToRightPass) {
    const struct {
        const char* text;
        const char* search;
        const char* replace;
        const char* out;
    } cases[] = {
        {"abcabc", "b", "", "acac"}, {"aaa", "a", "aa", "aaaaaa"},    {"///", "//", "/", "//"},
        {"////", "//", "/", "//"},   {"xyz", "xyz", "xyz", "xyz"},    {"abc", "", "-", "abc"},
        {"", "a", "b", ""},          {"a.b.c", ".", "::", "a::b::c"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        StrReplaceAllA(text, c.search, c.replace);
        EXPECT_EQ(text, c.out) << c.text << " / " << c.search;
        std::wstring wtext = Widen(c.text);
        StrReplaceAllW(wtext, Widen(c.search), Widen(c.replace));
        EXPECT_EQ(wtext, Widen(c.out));
    }
}

TEST(CompareReplaceSplit, SplitPiecesAndTheTrailingEmptyPiece) {
    const struct {
        const char* text;
        const char* delimiter;
        Pieces pieces;
    } cases[] = {
        {"", ",", {""}},
        {",a", ",", {"", "a"}},
        {"a,", ",", {"a"}},
        {"a,,", ",", {"a", ""}},
        {"abc", ",", {"abc"}},
        {"a,,b", ",", {"a", "", "b"}},
        {"2021-05-07", "-", {"2021", "05", "07"}},
        {"12:34:56", ":", {"12", "34", "56"}},
        {"a.b", ".", {"", "", ""}},
        {"a.b", "\\.", {"a", "b"}},
        {"A1b22C", "[0-9]+", {"A", "b", "C"}},
        {"xAx", "a", {"xAx"}},  // case-sensitive
    };
    for (const auto& c : cases) {
        Pieces pieces = {"before"};
        StrSplitA(c.text, c.delimiter, pieces);
        Pieces expected = {"before"};
        expected.insert(expected.end(), c.pieces.begin(), c.pieces.end());
        EXPECT_EQ(pieces, expected) << c.text << " at " << c.delimiter;
    }
    std::vector<std::wstring> wpieces;
    StrSplitW(L"2021-05-07", L"-", wpieces);
    EXPECT_EQ(wpieces, (std::vector<std::wstring>{L"2021", L"05", L"07"}));
}

TEST(CompareReplaceSplit, SplitInvalidAndEmptyMatchingExpressions) {
    for (const char* bad : {"\\", "(", "[a", "a)"}) {
        Pieces pieces = {"kept"};
        EXPECT_THROW(StrSplitA("a(b", bad, pieces), std::regex_error) << bad;
        EXPECT_EQ(pieces, Pieces{"kept"});
    }
    std::vector<std::wstring> wpieces;
    EXPECT_THROW(StrSplitW(L"a", L"(", wpieces), std::regex_error);
    EXPECT_TRUE(wpieces.empty());

    // Expressions that match empty text end, and lose no text but the matches.
    for (const char* delimiter : {"x*", "", "(?:)", "\\b"}) {
        Pieces pieces;
        StrSplitA("axxbxc", delimiter, pieces);
        std::string joined;
        for (const auto& p : pieces) joined += p;
        const std::string expected = std::string(delimiter) == "x*" ? "abc" : "axxbxc";
        EXPECT_EQ(joined, expected) << delimiter;
    }
}

TEST(Conversions, LocaleConversionsStopAtWhatTheyCannotConvert) {
    EXPECT_EQ(StrCA2W(""), L"");
    EXPECT_EQ(StrCW2A(L""), "");
    const std::wstring abc = StrCA2W("abc");
    EXPECT_EQ(abc, L"abc");
    EXPECT_EQ(abc.size(), 3u);
    EXPECT_EQ(StrCA2W(std::string("ab\0cd", 5)), L"ab");
    {
        LocaleGuard locale("C");
        EXPECT_EQ(StrCW2A(L"ab\u00e9cd"), "ab");
        EXPECT_EQ(StrCA2W("ab\xc3\xa9"), L"ab");
    }
    LocaleGuard locale("C.UTF-8");
    const std::wstring accented = L"caf\u00e9 !";  // six characters, one of two bytes
    EXPECT_EQ(StrCW2A(accented), "caf\xc3\xa9 !");
    EXPECT_EQ(StrCW2A(accented).size(), 7u);
    const std::string mixed =
        "Gr\xc3\xbc\xc3\x9f"
        "e \xe7\x9b\xae\xe5\xbd\x95 \xf0\x9f\x98\x80";
    EXPECT_EQ(StrCA2W(mixed), L"Gr\u00fc\u00dfe \u76ee\u5f55 \U0001F600");
    EXPECT_EQ(StrCW2A(StrCA2W(mixed)), mixed);
    EXPECT_EQ(StrCA2W("ok\xff"
                      "after"),
              L"ok");
    EXPECT_EQ(StrCA2W("ok\xe7\x9b"), L"ok");  // cut inside a sequence
    EXPECT_EQ(StrCW2A(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(StrCW2A(std::wstring(2000, L'\U0001F600')).size(), 8000u);  // room for 4 bytes each
}

TEST(Conversions, Utf8ConversionsIgnoreTheLocale) {
    LocaleGuard locale("C");
    const std::string utf8 = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
    const std::wstring wide = L"\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(StrUtf8ToStringW(utf8), wide);
    EXPECT_EQ(StrToUtf8W(wide), utf8);
    EXPECT_EQ(StrUtf8ToStringW("ok\xc0\x80x"), L"ok");          // overlong
    EXPECT_EQ(StrUtf8ToStringW("ok\xed\xa0\x80x"), L"ok");      // surrogate
    EXPECT_EQ(StrUtf8ToStringW("ok\xf4\x90\x80\x80x"), L"ok");  // beyond U+10FFFF
    EXPECT_EQ(StrUtf8ToStringW("ok\xe2\x82"), L"ok");           // truncated
    EXPECT_EQ(StrUtf8ToStringW("ok\x80"), L"ok");               // lone continuation
    EXPECT_EQ(StrToUtf8W(std::wstring(L"a") + wchar_t(0xD800) + L"b"), "a");
    EXPECT_EQ(StrToUtf8W(std::wstring(L"a") + wchar_t(0x110000) + L"b"), "a");
    EXPECT_EQ(StrUtf8ToStringA("as\xffis"), "as\xffis");
    EXPECT_EQ(StrToUtf8A("as\xffis"), "as\xffis");
}

TEST(TrimmingAndMarkers, TrimRemovesSpacesThenTabsFromBothEnds) {
    const Pieces in = {" \tx\t ", "\t x \t", "   ", "\t\t", " \t\t ",
                       "\t \t",   "\n x\r ", "a b", ""};
    const Pieces out = {"x", " x ", "", "", "", " ", "\n x\r", "a b", ""};
    for (size_t i = 0; i < in.size(); ++i) {
        std::string s = in[i];
        StrTrimA(s);
        EXPECT_EQ(s, out[i]) << i;
        std::wstring w = Widen(in[i]);
        StrTrimW(w);
        EXPECT_EQ(w, Widen(out[i])) << i;
    }
}

TEST(TrimmingAndMarkers, TextBetweenMarkers) {
    const std::string src = "key=[ v ];";
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", 0), "v");
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", 4), "v");
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", 5), "");
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", static_cast<int>(src.size())), "");
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", 100), "");
    EXPECT_EQ(StrGetMidStrA(src, "[", "]", -1), "");
    EXPECT_EQ(StrGetMidStrA(src, "", "]", 0), "");
    EXPECT_EQ(StrGetMidStrA(src, "[", "", 0), "");
    EXPECT_EQ(StrGetMidStrA(src, "[", ">", 0), "");
    EXPECT_EQ(StrGetMidStrA("|a|b|", "|", "|", 0), "a");  // end searched after the start
    EXPECT_EQ(StrGetMidStrA("<<>>", "<<", ">>", 0), "");
    EXPECT_EQ(StrGetMidStrA("x=\t y \t;", "=", ";", 0), " y ");
    EXPECT_EQ(StrGetMidStrW(L"key=[ v ];", L"[", L"]", 0), L"v");
    EXPECT_EQ(StrGetMidStrW(L"key=[ v ];", L"[", L"]", 5), L"");
}

TEST(TrimmingAndMarkers, NumbersAndLastCharacters) {
    EXPECT_TRUE(StrIsNumA("0123"));
    for (const char* s : {"", "-1", "1.5", " 1", "1 ", "+2", "\xd9\xa3", "12a"}) {
        EXPECT_FALSE(StrIsNumA(s)) << s;
        EXPECT_FALSE(StrIsNumW(Widen(s))) << s;
    }
    EXPECT_TRUE(StrIsNumW(L"0123"));
    EXPECT_FALSE(StrIsNumW(L"\u0661"));  // another script's digit

    std::string s;
    StrEnsureLastCharExistA(s, '/');
    EXPECT_EQ(s, "/");
    s = "a/";
    StrEnsureLastCharExistA(s, '/');
    EXPECT_EQ(s, "a/");
    s = "a";
    StrEnsureLastCharExistA(s, '/');
    EXPECT_EQ(s, "a/");
    std::wstring w = L"x";
    StrEnsureLastCharExistW(w, '\xe9');
    EXPECT_EQ(w, L"x\u00e9");
    StrEnsureLastCharExistW(w, '\xe9');
    EXPECT_EQ(w, L"x\u00e9");
}

}  // namespace
