// libFuzzer target for the text-only KestLib functions: path normalisation and
// joining, splitting, trimming and marker extraction. Each call is checked
// against properties that hold for every input.
//
// Built and run with the other fuzz targets (tests/fuzz, `make test-fuzz`).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "KestLib/KestLib.h"

using namespace KestLib;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string WithoutSeparators(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (!IsSeparator(c)) out.push_back(c);
    }
    return out;
}

// The expression that matches exactly the character c.
std::string LiteralExpression(char c) {
    static const std::string kSpecial = "^$\\.*+?()[]{}|";
    std::string expression;
    if (kSpecial.find(c) != std::string::npos) expression.push_back('\\');
    expression.push_back(c);
    return expression;
}

std::wstring Widen(const std::string& s) {
    std::wstring w;
    for (char c : s) w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return w;
}

// Normalisation: no backslash survives, nothing but separators changes, the
// text never grows, a normalised path normalised again never grows, and the
// wide member agrees with the narrow one.
std::string CheckFormat(const std::string& path) {
    std::string once = path;
    PathFormatA(once);
    Check(once.find('\\') == std::string::npos);
    Check(once.size() <= path.size());
    Check(WithoutSeparators(once) == WithoutSeparators(path));
    Check(path.empty() == once.empty());
    if (path.find('\\') == std::string::npos && path.find("//") == std::string::npos) {
        Check(once == path);
    }
    std::string twice = once;
    PathFormatA(twice);
    Check(twice.size() <= once.size());
    std::wstring wide = Widen(path);
    PathFormatW(wide);
    Check(wide == Widen(once));
    return once;
}

void CheckPathPieces(const std::string& path, const std::string& formatted) {
    std::string removed = path;
    PathRemoveSlashA(removed);
    Check(removed == formatted || removed + "/" == formatted);
    std::string added = path;
    PathAddSlashA(added);
    Check(added == formatted || added == formatted + "/");
    if (formatted.size() >= 2) Check(added.back() == '/');

    std::string parent = "unset";
    const std::string name = PathGetNameA(path);
    if (PathGetUpFolderA(path, parent)) {
        Check(parent + "/" + name == formatted);
    } else {
        Check(parent == "unset" && name.empty());
        Check(formatted.find('/') == std::string::npos);
    }
}

void CheckCombined(const std::string& base, const std::string& name) {
    const std::string joined = PathCombinedA(base, name);
    std::string expected = base + "\\" + name;
    PathFormatA(expected);
    Check(joined == expected);
    Check(joined.find('\\') == std::string::npos);
    Check(WithoutSeparators(joined) == WithoutSeparators(base) + WithoutSeparators(name));
    Check(PathCombinedW(Widen(base), Widen(name)) == Widen(joined));
}

// Literal one-character delimiters: the pieces joined again give the text,
// less one trailing delimiter.
void CheckSplitLiteral(const std::string& text, char delimiter) {
    std::vector<std::string> pieces = {"prefix"};
    StrSplitA(text, LiteralExpression(delimiter), pieces);
    Check(pieces.size() >= 2 && pieces[0] == "prefix");
    std::string joined;
    for (size_t i = 1; i < pieces.size(); ++i) {
        Check(pieces[i].find(delimiter) == std::string::npos);
        if (i > 1) joined.push_back(delimiter);
        joined += pieces[i];
    }
    const bool trailing = !text.empty() && text.back() == delimiter;
    Check(joined == (trailing ? text.substr(0, text.size() - 1) : text));
}

// Expressions that may match empty text must end, and the pieces never hold
// more than the text did.
void CheckSplitExpression(const std::string& text, const std::string& expression) {
    std::vector<std::string> pieces;
    try {
        StrSplitA(text, expression, pieces);
    } catch (const std::regex_error&) {
        Check(pieces.empty());
        return;
    }
    Check(!pieces.empty() && pieces.size() <= text.size() + 1);
    size_t total = 0;
    for (const auto& p : pieces) total += p.size();
    Check(total <= text.size());
}

// Trimming keeps a contiguous part of the text and ends with no tab at either
// end; without tabs, no space at either end either.
void CheckTrim(const std::string& text) {
    std::string trimmed = text;
    StrTrimA(trimmed);
    Check(text.find(trimmed) != std::string::npos);
    if (!trimmed.empty()) {
        Check(trimmed.front() != '\t' && trimmed.back() != '\t');
        if (text.find('\t') == std::string::npos) {
            Check(trimmed.front() != ' ' && trimmed.back() != ' ');
        }
    }
    std::wstring wide = Widen(text);
    StrTrimW(wide);
    Check(wide == Widen(trimmed));
}

// The text between the markers lies in the source and never holds the end
// marker.
void CheckMidStr(const std::string& source, const std::string& start, const std::string& end,
                 int position) {
    const std::string mid = StrGetMidStrA(source, start, end, position);
    if (position < 0 || start.empty() || end.empty() ||
        static_cast<size_t>(position) > source.size()) {
        Check(mid.empty());
    }
    if (!mid.empty()) {
        Check(source.find(start, static_cast<size_t>(position)) != std::string::npos);
        Check(source.find(mid) != std::string::npos);
        Check(mid.find(end) == std::string::npos);
        Check(mid.front() != '\t' && mid.back() != '\t');
    }
    Check(StrGetMidStrW(Widen(source), Widen(start), Widen(end), position) == Widen(mid));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const int choice = fdp.ConsumeIntegralInRange<int>(0, 5);
    const std::string a = fdp.ConsumeRandomLengthString(1024);
    const std::string b = fdp.ConsumeRandomLengthString(1024);
    switch (choice) {
        case 0:
            CheckPathPieces(a, CheckFormat(a));
            break;
        case 1:
            CheckCombined(a, b);
            break;
        case 2:
            CheckSplitLiteral(a, b.empty() ? ',' : b[0]);
            break;
        case 3: {
            static const char* const kExpressions[] = {"x*", "",  "\\b", "[0-9]+", "a|b",
                                                       ".",  "(", "\\",  "(?:)",   ",?"};
            const size_t pick = b.empty() ? 0 : static_cast<unsigned char>(b[0]) % 10;
            CheckSplitExpression(a.substr(0, 256), kExpressions[pick]);
            break;
        }
        case 4:
            CheckTrim(a);
            break;
        default: {
            const std::string rest = fdp.ConsumeRemainingBytesAsString();
            const int position = static_cast<int>(b.size()) - 8;
            CheckMidStr(a, b.substr(0, b.size() / 2), b.substr(b.size() / 2), position);
            CheckMidStr(a + rest, rest.substr(0, 1), rest.substr(0, 2), 0);
            break;
        }
    }
    return 0;
}
