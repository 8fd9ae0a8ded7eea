// Fuzz target: the text-only KestLib functions (path normalisation, pieces
// and joins, splitting, trimming, markers). Checks, for every input: no
// backslash survives normalisation and nothing but separators changes; the
// pieces of a path reassemble it; splitting at a literal character loses
// only the delimiters (and one trailing one); trimming keeps a contiguous
// part; the wide members agree with the narrow ones.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <regex>
#include <vector>

#include "KestLib/KestLib.h"
#include "tests/unit/UnitSupport.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using namespace KestLib;
using unit::Widen;

namespace {

std::string WithoutSeparators(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != '/' && c != '\\') out.push_back(c);
    return out;
}

void CheckPath(const std::string& path) {
    std::string formatted = path;
    PathFormatA(formatted);
    Check(formatted.find('\\') == std::string::npos && formatted.size() <= path.size());
    Check(WithoutSeparators(formatted) == WithoutSeparators(path));
    Check(path.empty() == formatted.empty());
    if (path.find('\\') == std::string::npos && path.find("//") == std::string::npos)
        Check(formatted == path);
    std::wstring wide = Widen(path);
    PathFormatW(wide);
    Check(wide == Widen(formatted));

    std::string removed = path, added = path, parent = "unset";
    PathRemoveSlashA(removed);
    PathAddSlashA(added);
    Check(removed == formatted || removed + "/" == formatted);
    Check(added == formatted || added == formatted + "/");
    if (formatted.size() >= 2) Check(added.back() == '/');
    const std::string name = PathGetNameA(path);
    if (PathGetUpFolderA(path, parent)) {
        Check(parent + "/" + name == formatted);
    } else {
        Check(parent == "unset" && name.empty() && formatted.find('/') == std::string::npos);
    }
}

void CheckCombined(const std::string& base, const std::string& name) {
    const std::string joined = PathCombinedA(base, name);
    std::string expected = base + "\\" + name;
    PathFormatA(expected);
    Check(joined == expected);
    Check(PathCombinedW(Widen(base), Widen(name)) == Widen(joined));
}

void CheckSplit(const std::string& text, char delimiter) {
    static const std::string kSpecial = "^$\\.*+?()[]{}|";
    const std::string expression =
        (kSpecial.find(delimiter) != std::string::npos ? "\\" : "") + std::string(1, delimiter);
    std::vector<std::string> pieces = {"prefix"};
    StrSplitA(text, expression, pieces);
    Check(pieces.size() >= 2 && pieces[0] == "prefix");
    std::string joined;
    for (size_t i = 1; i < pieces.size(); ++i) {
        Check(pieces[i].find(delimiter) == std::string::npos);
        joined += (i > 1 ? std::string(1, delimiter) : "") + pieces[i];
    }
    const bool trailing = !text.empty() && text.back() == delimiter;
    Check(joined == (trailing ? text.substr(0, text.size() - 1) : text));
}

// Expressions that may match empty text must end, and the pieces never
// hold more than the text did.
void CheckSplitExpression(const std::string& text, const char* expression) {
    std::vector<std::string> pieces;
    try {
        StrSplitA(text, expression, pieces);
    } catch (const std::regex_error&) {
        Check(pieces.empty());
        return;
    }
    size_t total = 0;
    for (const auto& p : pieces) total += p.size();
    Check(!pieces.empty() && pieces.size() <= text.size() + 1 && total <= text.size());
}

void CheckTrimAndMarkers(const std::string& text, const std::string& start, const std::string& end,
                         int position) {
    std::string trimmed = text;
    StrTrimA(trimmed);
    Check(text.find(trimmed) != std::string::npos);
    if (!trimmed.empty()) {
        Check(trimmed.front() != '\t' && trimmed.back() != '\t');
        if (text.find('\t') == std::string::npos)
            Check(trimmed.front() != ' ' && trimmed.back() != ' ');
    }
    std::wstring wide = Widen(text);
    StrTrimW(wide);
    Check(wide == Widen(trimmed));

    const std::string mid = StrGetMidStrA(text, start, end, position);
    if (position < 0 || start.empty() || end.empty() || static_cast<size_t>(position) > text.size())
        Check(mid.empty());
    if (!mid.empty()) {
        Check(text.find(start, static_cast<size_t>(position)) != std::string::npos);
        Check(text.find(mid) != std::string::npos && mid.find(end) == std::string::npos);
    }
    Check(StrGetMidStrW(Widen(text), Widen(start), Widen(end), position) == Widen(mid));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const int choice = fdp.ConsumeIntegralInRange<int>(0, 5);
    const std::string a = fdp.ConsumeRandomLengthString(1024);
    const std::string b = fdp.ConsumeRandomLengthString(1024);
    static const char* const kExpressions[] = {"x*", "",  "\\b", "[0-9]+", "a|b",
                                               ".",  "(", "\\",  "(?:)",   ",?"};
    switch (choice) {
        case 0:
            CheckPath(a);
            break;
        case 1:
            CheckCombined(a, b);
            break;
        case 2:
            CheckSplit(a, b.empty() ? ',' : b[0]);
            break;
        case 3:
            CheckSplitExpression(
                a.substr(0, 256),
                kExpressions[b.empty() ? 0 : static_cast<unsigned char>(b[0]) % 10]);
            break;
        default:
            CheckTrimAndMarkers(a, b.substr(0, b.size() / 2), b.substr(b.size() / 2),
                                static_cast<int>(b.size()) - 8);
    }
    return 0;
}
