// Fuzz target: the text-only KestLib functions, each held to a reference of
// its rule (paths normalised, split into parent and name, joined; splitting at
// a literal character; trimming; markers), the wide members to the narrow
// ones.
#include "KestLib/KestLib.h"
#include "tests/unit/UnitSupport.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using namespace KestLib;
using unit::Widen;

namespace {

// Backslashes become '/', then each '//' left to right becomes '/'.
std::string Normalised(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        out += path[i];
        if (path.compare(i, 2, "//") == 0) ++i;
    }
    return out;
}

// Leading and trailing spaces, then tabs.
std::string Trimmed(std::string text) {
    for (char c : {' ', '\t'}) {
        text.erase(0, text.find_first_not_of(c));
        text.erase(text.find_last_not_of(c) + 1);
    }
    return text;
}

// The trimmed text between the start marker (found from `position`) and the
// end marker after it.
std::string Mid(const std::string& text, const std::string& start, const std::string& end,
                int position) {
    if (position < 0 || start.empty() || end.empty() || size_t(position) > text.size()) return "";
    const size_t first = text.find(start, static_cast<size_t>(position));
    const size_t last = first == std::string::npos ? first : text.find(end, first + start.size());
    if (last == std::string::npos) return "";
    return Trimmed(text.substr(first + start.size(), last - first - start.size()));
}

void CheckPath(const std::string& path) {
    const std::string formatted = Normalised(path);
    const size_t slash = formatted.rfind('/');
    const bool cut = formatted.size() >= 2 && formatted.back() == '/';
    const bool add = formatted.size() >= 2 && formatted.back() != '/';
    const std::string expected[] = {
        formatted, cut ? formatted.substr(0, formatted.size() - 1) : formatted,
        add ? formatted + "/" : formatted,
        slash == std::string::npos ? "none" : formatted.substr(0, slash),
        slash == std::string::npos ? "" : formatted.substr(slash + 1)};
    std::string got[] = {path, path, path, "none", PathGetNameA(path)};
    PathFormatA(got[0]);
    PathRemoveSlashA(got[1]);
    PathAddSlashA(got[2]);
    Check(PathGetUpFolderA(path, got[3]) == (slash != std::string::npos));
    std::wstring wide[] = {Widen(path), Widen(path), Widen(path), L"none",
                           PathGetNameW(Widen(path))};
    PathFormatW(wide[0]);
    PathRemoveSlashW(wide[1]);
    PathAddSlashW(wide[2]);
    Check(PathGetUpFolderW(Widen(path), wide[3]) == (slash != std::string::npos));
    for (size_t i = 0; i < 5; ++i) Check(got[i] == expected[i] && wide[i] == Widen(expected[i]));
}

void CheckCombined(const std::string& base, const std::string& name) {
    const std::string joined = PathCombinedA(base, name);
    Check(joined == Normalised(base + "\\" + name));
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
    std::vector<std::wstring> wide = {L"prefix"}, widened;
    StrSplitW(Widen(text), Widen(expression), wide);
    for (const std::string& piece : pieces) widened.push_back(Widen(piece));
    Check(wide == widened);
}

void CheckTrimAndMarkers(const std::string& text, const std::string& start, const std::string& end,
                         int position) {
    std::string trimmed = text;
    std::wstring wide = Widen(text);
    StrTrimA(trimmed);
    StrTrimW(wide);
    Check(trimmed == Trimmed(text) && wide == Widen(trimmed));
    const std::string mid = StrGetMidStrA(text, start, end, position);
    Check(mid == Mid(text, start, end, position));
    Check(StrGetMidStrW(Widen(text), Widen(start), Widen(end), position) == Widen(mid));
}

}  // namespace

// Two texts, then a position for the markers (from the input's end); every
// check runs on each input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string a = fdp.ConsumeRandomLengthString(1024);
    const std::string b = fdp.ConsumeRandomLengthString(1024);
    CheckPath(a);
    CheckCombined(a, b);
    CheckSplit(a, b.empty() ? ',' : b[0]);
    CheckTrimAndMarkers(a, b.substr(0, b.size() / 2), b.substr(b.size() / 2),
                        fdp.ConsumeIntegralInRange<int>(-2, 1100));
    return 0;
}
