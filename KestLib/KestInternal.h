// Internal to KestLib: shared between its modules, never exported.
#ifndef KESTLIB_KESTINTERNAL_H
#define KESTLIB_KESTINTERNAL_H

#include <string>
#include <vector>

namespace KestLib {

// Walks one directory: "<path>/<name>" of every subdirectory entry into
// vecDirs (recursing into it first when bRecurse), of every other entry into
// vecFiles with its lstat size added to llTotal. False when the path does not
// exist or cannot be opened as a directory.
bool FileGetDirInfoA(std::string strPath, std::vector<std::string>& vecFiles,
                     std::vector<std::string>& vecDirs, long long& llTotal, bool bRecurse);
bool FileGetDirInfoW(std::wstring strPath, std::vector<std::wstring>& vecFiles,
                     std::vector<std::wstring>& vecDirs, long long& llTotal, bool bRecurse);

// Locale conversions that report whether the whole text was converted (no
// NUL, no unconvertible sequence). Wide members use them so that they never
// act on a path that the current locale cannot represent exactly.
bool StrCW2AExact(const std::wstring& strWide, std::string& strNarrow);
bool StrCA2WExact(const std::string& strNarrow, std::wstring& strWide);

// The platform seam behind PathGetExeDirA: the absolute path of the host
// application's bundle directory ("/Applications/Host.app"), or false when
// there is none.
bool PlatformGetBundleDir(std::string& strBundleDir);

}  // namespace KestLib

#endif  // KESTLIB_KESTINTERNAL_H
