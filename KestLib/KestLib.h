// KestLib: path, file and string utilities exported by libNimbra, in narrow
// (A, std::string) and wide (W, std::wstring) forms.
//
// Narrow members treat text as bytes. Wide members that touch the file system
// convert their arguments with StrCW2A under the current C locale, call the
// narrow twin and convert results back with StrCA2W; a path that the locale
// cannot represent exactly is never acted upon (the member gives its failure
// value instead).
#ifndef KESTLIB_KESTLIB_H
#define KESTLIB_KESTLIB_H

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#ifndef KESTLIB_API
#define KESTLIB_API __attribute__((visibility("default")))
#endif

namespace KestLib {

// ---- Paths -----------------------------------------------------------------
// The separator is '/'; a backslash is accepted as a separator in any input
// and normalisation turns it into '/'. Normalisation also halves runs of
// separators ('a///b' becomes 'a//b'), one left-to-right pass.

// The constant text "/".
KESTLIB_API const char* PathGetDefaultSeparatorA();
KESTLIB_API const wchar_t* PathGetDefaultSeparatorW();

// Whether the normalised path exists (access F_OK; a dangling link does not).
KESTLIB_API bool PathExistA(std::string strPath);
KESTLIB_API bool PathExistW(std::wstring strPath);

// Normalises in place.
KESTLIB_API void PathFormatA(std::string& strPath);
KESTLIB_API void PathFormatW(std::wstring& strPath);

// Normalises and removes one trailing separator ('/' itself stays).
KESTLIB_API void PathRemoveSlashA(std::string& strPath);
KESTLIB_API void PathRemoveSlashW(std::wstring& strPath);

// Normalises and ensures a trailing separator on paths of two or more characters.
KESTLIB_API void PathAddSlashA(std::string& strPath);
KESTLIB_API void PathAddSlashW(std::wstring& strPath);

// Everything before the last separator of the normalised path; false (and the
// out-parameter untouched) when there is none.
KESTLIB_API bool PathGetUpFolderA(std::string strPath, std::string& strParent);
KESTLIB_API bool PathGetUpFolderW(std::wstring strPath, std::wstring& strParent);

// Everything after the last separator of the normalised path; empty when
// there is no separator.
KESTLIB_API std::string PathGetNameA(std::string strPath);
KESTLIB_API std::wstring PathGetNameW(std::wstring strPath);

// base + '\' + name, normalised.
KESTLIB_API std::string PathCombinedA(std::string strBase, const std::string& strName);
KESTLIB_API std::wstring PathCombinedW(std::wstring strBase, const std::wstring& strName);

// The host application bundle's "<bundle>/Contents/MacOS", or empty.
KESTLIB_API std::string PathGetExeDirA();
KESTLIB_API std::wstring PathGetExeDirW();

// Not available on this platform: 0, and nothing is changed.
KESTLIB_API int PathGetMaximumFreeSpaceDiskA(std::string& strPath);
KESTLIB_API int PathGetMaximumFreeSpaceDiskW(std::wstring& strPath);
KESTLIB_API int PathGetAllDriverPathA(std::vector<std::string>& vecPaths);
KESTLIB_API int PathGetAllDriverPathW(std::vector<std::wstring>& vecPaths);
KESTLIB_API int PathGetDriverByteSizeA(std::string strPath);
KESTLIB_API int PathGetDriverByteSizeW(std::wstring strPath);

// ---- Files -----------------------------------------------------------------
// Lists are only appended to. Each entry is "<directory>/<name>".

// Creates the missing directories of the chain (mode 0755); whether the path
// exists afterwards.
KESTLIB_API bool FileEnsureDirExistA(std::string strPath);
KESTLIB_API bool FileEnsureDirExistW(std::wstring strPath);

// Size of the file (path used as given); 0 when it cannot be opened.
KESTLIB_API long long FileGetFileSizeA(std::string strPath);
KESTLIB_API long long FileGetFileSizeW(std::wstring strPath);

// Total lstat size of every non-directory entry of the tree; links are not
// followed.
KESTLIB_API long long FileGetDirSizeA(std::string strPath);
KESTLIB_API long long FileGetDirSizeW(std::wstring strPath);

// Appends every non-directory entry of the tree; false when the directory
// cannot be read.
KESTLIB_API bool FileGetDirFileListA(std::string strPath, std::vector<std::string>& vecFiles);
KESTLIB_API bool FileGetDirFileListW(std::wstring strPath, std::vector<std::wstring>& vecFiles);

// Appends the directory's immediate subdirectories.
KESTLIB_API bool FileGetDirListA(std::string strPath, std::vector<std::string>& vecDirs);
KESTLIB_API bool FileGetDirListW(std::wstring strPath, std::vector<std::wstring>& vecDirs);

// True unless the directory has an entry (a missing path gives true).
KESTLIB_API bool FileIsDirEmptyA(std::string strPath);
KESTLIB_API bool FileIsDirEmptyW(std::wstring strPath);

// Reads the whole stream into a malloc'd buffer with one trailing zero byte;
// always closes the stream. Null for an empty or unreadable stream and for
// 2 GiB or more. The caller frees the buffer with free().
KESTLIB_API void* FileReadBufImp(FILE* pFile, int* pnSize);
KESTLIB_API void* FileReadBufA(std::string strPath, int* pnSize);
KESTLIB_API void* FileReadBufW(std::wstring strPath, int* pnSize);

// Creates or replaces the file with nSize bytes of pData; false when it
// cannot be opened or nSize is negative.
KESTLIB_API bool FileWriteBufA(std::string strPath, const void* pData, int nSize);
KESTLIB_API bool FileWriteBufW(std::wstring strPath, const void* pData, int nSize);

// remove(): a file or an empty directory.
KESTLIB_API bool FileDeleteFileA(std::string strPath);
KESTLIB_API bool FileDeleteFileW(std::wstring strPath);

// Copies the file, always replacing the destination; true in every case. The
// destination is left untouched when the source cannot be opened, is a
// directory, or is the destination itself.
KESTLIB_API bool FileCopyFileA(std::string strSrc, std::string strDst, bool bOverwrite);
KESTLIB_API bool FileCopyFileW(std::wstring strSrc, std::wstring strDst, bool bOverwrite);

// rm -rf; whether the path is gone afterwards.
KESTLIB_API bool FileDeleteDirA(std::string strPath);
KESTLIB_API bool FileDeleteDirW(std::wstring strPath);

// cp -rf; 0 in every case. pnProgress is neither read nor written.
KESTLIB_API int FileCopyDirA(std::string strSrc, std::string strDst, int* pnProgress);
KESTLIB_API int FileCopyDirW(std::wstring strSrc, std::wstring strDst, int* pnProgress);

// mv; whether the destination exists afterwards.
KESTLIB_API bool FileRenameDirA(std::string strSrc, std::string strDst);
KESTLIB_API bool FileRenameDirW(std::wstring strSrc, std::wstring strDst);

// fopen(); the caller closes the stream. Null on failure.
KESTLIB_API FILE* FileOpenA(std::string strPath, std::string strMode);
KESTLIB_API FILE* FileOpenW(std::wstring strPath, std::wstring strMode);

// ---- Strings ---------------------------------------------------------------
// Formatted texts hold at most 4096 characters; longer output is cut there.

// A new buffer of 4097 elements holding the formatted text (empty for a null
// format), null only when memory runs out; the caller releases it with delete[].
KESTLIB_API char* StrFormatArgBufferA(const char* szFormat, va_list args);
KESTLIB_API wchar_t* StrFormatArgBufferW(const wchar_t* szFormat, va_list args);

KESTLIB_API std::string StrFormatA(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
KESTLIB_API std::wstring StrFormatW(const wchar_t* szFormat, ...);

// Compares after upper-casing both (toupper, current locale); only the sign
// of the result is meaningful.
KESTLIB_API int StrCompareNoCaseA(std::string strLeft, std::string strRight);
KESTLIB_API int StrCompareNoCaseW(std::wstring strLeft, std::wstring strRight);

// Replaces every occurrence left to right; inserted text is not searched
// again. An empty search text changes nothing.
KESTLIB_API void StrReplaceAllA(std::string& strText, std::string strSearch,
                                std::string strReplace);
KESTLIB_API void StrReplaceAllW(std::wstring& strText, std::wstring strSearch,
                                std::wstring strReplace);

// Appends the pieces between matches of the ECMAScript expression; a trailing
// empty piece is dropped, a text without a match is one piece. Throws
// std::regex_error, before appending, for an invalid expression.
KESTLIB_API void StrSplitA(std::string strText, std::string strDelimiter,
                           std::vector<std::string>& vecPieces);
KESTLIB_API void StrSplitW(std::wstring strText, std::wstring strDelimiter,
                           std::vector<std::wstring>& vecPieces);

// Conversions under the current C locale; each stops at a NUL and at the
// first sequence or character the locale cannot convert.
KESTLIB_API std::wstring StrCA2W(std::string strText);
KESTLIB_API std::string StrCW2A(std::wstring strText);

// UTF-8 conversions independent of the locale; they stop at a NUL and at the
// first invalid sequence or character. The narrow members return their
// argument unchanged.
KESTLIB_API std::string StrUtf8ToStringA(std::string strText);
KESTLIB_API std::wstring StrUtf8ToStringW(std::string strText);
KESTLIB_API std::string StrToUtf8A(std::string strText);
KESTLIB_API std::string StrToUtf8W(std::wstring strText);

// The trimmed text between the first start marker at or after nStart and the
// next end marker; empty when either is missing.
KESTLIB_API std::string StrGetMidStrA(std::string strSource, std::string strStart,
                                      std::string strEnd, int nStart);
KESTLIB_API std::wstring StrGetMidStrW(std::wstring strSource, std::wstring strStart,
                                       std::wstring strEnd, int nStart);

// Removes leading then trailing spaces, then leading then trailing tabs.
KESTLIB_API void StrTrimA(std::string& strText);
KESTLIB_API void StrTrimW(std::wstring& strText);

// Non-empty and only the digits '0' to '9'.
KESTLIB_API bool StrIsNumA(std::string strText);
KESTLIB_API bool StrIsNumW(std::wstring strText);

// Appends cLast unless the text already ends in it. The wide member widens
// cLast as an unsigned byte.
KESTLIB_API void StrEnsureLastCharExistA(std::string& strText, char cLast);
KESTLIB_API void StrEnsureLastCharExistW(std::wstring& strText, char cLast);

}  // namespace KestLib

#endif  // KESTLIB_KESTLIB_H
