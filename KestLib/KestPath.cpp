// Path utilities: normalisation to '/', trailing separators, parent and last
// component, joining, existence, and the host application's executable
// directory.
#include <unistd.h>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"

namespace KestLib {

namespace {

const char* Separator(char) {
    return PathGetDefaultSeparatorA();
}
const wchar_t* Separator(wchar_t) {
    return PathGetDefaultSeparatorW();
}

// The separator twice, built once (thread-safe first use) per width.
const std::string& RepeatedSeparator(char) {
    static const std::string strRepeat =
        std::string(PathGetDefaultSeparatorA()) + PathGetDefaultSeparatorA();
    return strRepeat;
}
const std::wstring& RepeatedSeparator(wchar_t) {
    static const std::wstring strRepeat =
        std::wstring(PathGetDefaultSeparatorW()) + PathGetDefaultSeparatorW();
    return strRepeat;
}

void ReplaceAll(std::string& strText, const std::string& strSearch, const std::string& strReplace) {
    StrReplaceAllA(strText, strSearch, strReplace);
}
void ReplaceAll(std::wstring& strText, const std::wstring& strSearch,
                const std::wstring& strReplace) {
    StrReplaceAllW(strText, strSearch, strReplace);
}

template <typename StrT>
struct PathText {
    using CharT = typename StrT::value_type;
    static constexpr CharT kSeparator = static_cast<CharT>('/');
    static constexpr CharT kForeign = static_cast<CharT>('\\');
};

// Backslashes become '/', then one pass replaces each '//' by '/', so a run
// of n separators becomes ceil(n/2) of them.
template <typename StrT>
void Format(StrT& strPath) {
    using T = PathText<StrT>;
    const StrT strSeparator(Separator(typename T::CharT()));
    if (strPath.find(T::kForeign) != StrT::npos) {
        ReplaceAll(strPath, StrT(1, T::kForeign), strSeparator);
    }
    const StrT& strRepeat = RepeatedSeparator(typename T::CharT());
    if (strPath.size() >= 2 && strPath.find(strRepeat) != StrT::npos) {
        ReplaceAll(strPath, strRepeat, strSeparator);
    }
}

template <typename StrT>
void RemoveSlash(StrT& strPath) {
    if (strPath.empty()) return;
    Format(strPath);
    if (strPath.size() >= 2 && strPath.back() == PathText<StrT>::kSeparator) strPath.pop_back();
}

template <typename StrT>
void AddSlash(StrT& strPath) {
    if (strPath.empty()) return;
    Format(strPath);
    if (strPath.size() < 2 || strPath.back() == PathText<StrT>::kSeparator) return;
    strPath += Separator(typename PathText<StrT>::CharT());
}

template <typename StrT>
bool GetUpFolder(StrT strPath, StrT& strParent) {
    Format(strPath);
    const size_t nLast = strPath.rfind(PathText<StrT>::kSeparator);
    if (nLast == StrT::npos) return false;
    strParent = strPath.substr(0, nLast);
    return true;
}

template <typename StrT>
StrT GetName(StrT strPath) {
    Format(strPath);
    const size_t nLast = strPath.rfind(PathText<StrT>::kSeparator);
    if (nLast == StrT::npos) return StrT();
    return strPath.substr(nLast + 1);
}

template <typename StrT>
StrT Combined(StrT strBase, const StrT& strName) {
    strBase += PathText<StrT>::kForeign;
    strBase += strName;
    Format(strBase);
    return strBase;
}

}  // namespace

const char* PathGetDefaultSeparatorA() {
    return "/";
}
const wchar_t* PathGetDefaultSeparatorW() {
    return L"/";
}

bool PathExistA(std::string strPath) {
    PathFormatA(strPath);
    return access(strPath.c_str(), F_OK) == 0;
}

bool PathExistW(std::wstring strPath) {
    std::string strNarrow;
    return StrCW2AExact(strPath, strNarrow) && PathExistA(strNarrow);
}

void PathFormatA(std::string& strPath) {
    Format(strPath);
}
void PathFormatW(std::wstring& strPath) {
    Format(strPath);
}

void PathRemoveSlashA(std::string& strPath) {
    RemoveSlash(strPath);
}
void PathRemoveSlashW(std::wstring& strPath) {
    RemoveSlash(strPath);
}

void PathAddSlashA(std::string& strPath) {
    AddSlash(strPath);
}
void PathAddSlashW(std::wstring& strPath) {
    AddSlash(strPath);
}

bool PathGetUpFolderA(std::string strPath, std::string& strParent) {
    return GetUpFolder(std::move(strPath), strParent);
}
bool PathGetUpFolderW(std::wstring strPath, std::wstring& strParent) {
    return GetUpFolder(std::move(strPath), strParent);
}

std::string PathGetNameA(std::string strPath) {
    return GetName(std::move(strPath));
}
std::wstring PathGetNameW(std::wstring strPath) {
    return GetName(std::move(strPath));
}

std::string PathCombinedA(std::string strBase, const std::string& strName) {
    return Combined(std::move(strBase), strName);
}
std::wstring PathCombinedW(std::wstring strBase, const std::wstring& strName) {
    return Combined(std::move(strBase), strName);
}

std::string PathGetExeDirA() {
    std::string strBundle;
    if (!PlatformGetBundleDir(strBundle)) return std::string();
    std::string strResult = strBundle + "/Contents/MacOS";
    PathFormatA(strResult);
    return strResult;
}

std::wstring PathGetExeDirW() {
    std::wstring strWide;
    if (!StrCA2WExact(PathGetExeDirA(), strWide)) strWide.clear();
    return strWide;
}

int PathGetMaximumFreeSpaceDiskA(std::string&) {
    return 0;
}
int PathGetMaximumFreeSpaceDiskW(std::wstring&) {
    return 0;
}
int PathGetAllDriverPathA(std::vector<std::string>&) {
    return 0;
}
int PathGetAllDriverPathW(std::vector<std::wstring>&) {
    return 0;
}
int PathGetDriverByteSizeA(std::string) {
    return 0;
}
int PathGetDriverByteSizeW(std::wstring) {
    return 0;
}

}  // namespace KestLib
