// File and directory utilities: directory chains, walks and listings, whole
// file reads and writes, file copies, and the rm/cp/mv tree operations.
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"

extern char** environ;

namespace KestLib {

namespace {

struct DirCloser {
    void operator()(DIR* p) const { closedir(p); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct FileCloser {
    void operator()(FILE* p) const { fclose(p); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

constexpr size_t kCopyChunk = 4096;
// An entry is a directory when its d_type has this bit (DT_DIR is 4); links
// and unreported types (0) count as files.
constexpr unsigned kDirTypeBit = 4;

bool IsDotEntry(const char* szName) {
    return strcmp(szName, ".") == 0 || strcmp(szName, "..") == 0;
}

bool IsDirEntry(const dirent* pEntry) {
    return (pEntry->d_type & kDirTypeBit) != 0;
}

// "<directory>/<name>", never cut short whatever its length.
std::string EntryPath(const std::string& strDir, const char* szName) {
    std::string strFull;
    strFull.reserve(strDir.size() + 1 + strlen(szName));
    strFull.append(strDir).append(PathGetDefaultSeparatorA()).append(szName);
    return strFull;
}

// A path holding a NUL would reach the system cut at that NUL.
bool HasNul(const std::string& strPath) {
    return strPath.find('\0') != std::string::npos;
}

// Existence check, one trailing separator removed, then opendir.
DirHandle OpenDirectory(std::string& strPath) {
    if (!PathExistA(strPath)) return nullptr;
    PathRemoveSlashA(strPath);
    return DirHandle(opendir(strPath.c_str()));
}

void WalkOpenDir(DIR* pDir, const std::string& strDir, std::vector<std::string>& vecFiles,
                 std::vector<std::string>& vecDirs, long long& llTotal, bool bRecurse);

// Walks a subdirectory found on disk. A backslash in an on-disk name is part
// of the name: normalising would turn it into a separator and walk some other
// directory (a name like "x\.." would walk the same directory again), so such a
// path is opened exactly as found.
void WalkSubdirectory(const std::string& strFull, std::vector<std::string>& vecFiles,
                      std::vector<std::string>& vecDirs, long long& llTotal) {
    if (strFull.find('\\') == std::string::npos) {
        FileGetDirInfoA(strFull, vecFiles, vecDirs, llTotal, true);
        return;
    }
    DirHandle dir(opendir(strFull.c_str()));
    if (dir) WalkOpenDir(dir.get(), strFull, vecFiles, vecDirs, llTotal, true);
}

// Every entry readdir yields, in its order; a subdirectory's contents come
// right after the subdirectory itself.
void WalkOpenDir(DIR* pDir, const std::string& strDir, std::vector<std::string>& vecFiles,
                 std::vector<std::string>& vecDirs, long long& llTotal, bool bRecurse) {
    while (const dirent* pEntry = readdir(pDir)) {
        if (IsDotEntry(pEntry->d_name)) continue;
        std::string strFull = EntryPath(strDir, pEntry->d_name);
        if (IsDirEntry(pEntry)) {
            vecDirs.push_back(strFull);
            if (bRecurse) WalkSubdirectory(strFull, vecFiles, vecDirs, llTotal);
        } else {
            struct stat st;
            if (lstat(strFull.c_str(), &st) == 0) llTotal += static_cast<long long>(st.st_size);
            vecFiles.push_back(std::move(strFull));
        }
    }
}

// Runs a utility from PATH with an argument vector, without a shell, and
// waits for it; its exit status is not needed.
void RunUtility(const char* szTool, std::vector<std::string> vecArgs) {
    std::vector<char*> vecArgv;
    vecArgv.push_back(const_cast<char*>(szTool));
    for (auto& strArg : vecArgs) vecArgv.push_back(strArg.data());
    vecArgv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, szTool, nullptr, nullptr, vecArgv.data(), environ) != 0) return;
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
}

// Narrow form of a wide path, only when the locale represents it exactly.
bool ToNarrow(const std::wstring& strWide, std::string& strNarrow) {
    return StrCW2AExact(strWide, strNarrow);
}

// Wide forms of listed paths; a path the locale cannot represent exactly is
// left out rather than handed out as some other path.
void AppendWide(const std::vector<std::string>& vecNarrow, std::vector<std::wstring>& vecWide) {
    for (const auto& strNarrow : vecNarrow) {
        std::wstring strWide;
        if (StrCA2WExact(strNarrow, strWide)) vecWide.push_back(std::move(strWide));
    }
}

}  // namespace

bool FileEnsureDirExistA(std::string strPath) {
    PathRemoveSlashA(strPath);
    if (strPath.empty()) return false;
    if (PathExistA(strPath)) return true;
    // Each missing prefix before a separator, never the root itself.
    for (size_t i = 1; i < strPath.size(); ++i) {
        if (strPath[i] != '/') continue;
        const std::string strPrefix = strPath.substr(0, i);
        if (PathExistA(strPrefix)) continue;
        if (mkdir(strPrefix.c_str(), 0755) != 0) break;
    }
    mkdir(strPath.c_str(), 0755);
    return PathExistA(strPath);
}

long long FileGetFileSizeA(std::string strPath) {
    FileHandle file(fopen(strPath.c_str(), "r"));
    if (!file) return 0;
    if (fseeko(file.get(), 0, SEEK_END) != 0) return 0;
    const off_t nEnd = ftello(file.get());
    return nEnd < 0 ? 0 : static_cast<long long>(nEnd);
}

bool FileGetDirInfoA(std::string strPath, std::vector<std::string>& vecFiles,
                     std::vector<std::string>& vecDirs, long long& llTotal, bool bRecurse) {
    DirHandle dir = OpenDirectory(strPath);
    if (!dir) return false;
    WalkOpenDir(dir.get(), strPath, vecFiles, vecDirs, llTotal, bRecurse);
    return true;
}

long long FileGetDirSizeA(std::string strPath) {
    std::vector<std::string> vecFiles, vecDirs;
    long long llTotal = 0;
    FileGetDirInfoA(std::move(strPath), vecFiles, vecDirs, llTotal, true);
    return llTotal;
}

bool FileGetDirFileListA(std::string strPath, std::vector<std::string>& vecFiles) {
    std::vector<std::string> vecDirs;
    long long llTotal = 0;
    return FileGetDirInfoA(std::move(strPath), vecFiles, vecDirs, llTotal, true);
}

bool FileGetDirListA(std::string strPath, std::vector<std::string>& vecDirs) {
    DirHandle dir = OpenDirectory(strPath);
    if (!dir) return false;
    while (const dirent* pEntry = readdir(dir.get())) {
        if (IsDotEntry(pEntry->d_name) || !IsDirEntry(pEntry)) continue;
        vecDirs.push_back(EntryPath(strPath, pEntry->d_name));
    }
    return true;
}

bool FileIsDirEmptyA(std::string strPath) {
    std::vector<std::string> vecFiles, vecDirs;
    long long llTotal = 0;
    FileGetDirInfoA(std::move(strPath), vecFiles, vecDirs, llTotal, false);
    return vecFiles.empty() && vecDirs.empty();
}

void* FileReadBufImp(FILE* pFile, int* pnSize) {
    if (pFile == nullptr) return nullptr;
    FileHandle file(pFile);
    if (fseeko(pFile, 0, SEEK_END) != 0) return nullptr;
    const off_t nEnd = ftello(pFile);
    rewind(pFile);
    // Empty, unpositionable, or too large for the 32-bit size.
    if (nEnd <= 0 || nEnd > INT_MAX) return nullptr;
    const int nSize = static_cast<int>(nEnd);
    const size_t nBytes = static_cast<size_t>(nSize) + 1;
    void* pBuffer = malloc(nBytes);
    if (pBuffer == nullptr) return nullptr;
    memset(pBuffer, 0, nBytes);
    fread(pBuffer, 1, static_cast<size_t>(nSize), pFile);
    file.reset();
    if (pnSize != nullptr) *pnSize = nSize;
    return pBuffer;
}

void* FileReadBufA(std::string strPath, int* pnSize) {
    PathFormatA(strPath);
    FILE* pFile = fopen(strPath.c_str(), "rb");
    if (pFile == nullptr) return nullptr;
    return FileReadBufImp(pFile, pnSize);
}

bool FileWriteBufA(std::string strPath, const void* pData, int nSize) {
    if (nSize < 0 || (pData == nullptr && nSize > 0)) return false;
    PathFormatA(strPath);
    if (HasNul(strPath)) return false;
    FileHandle file(fopen(strPath.c_str(), "wb"));
    if (!file) return false;
    if (nSize > 0) fwrite(pData, static_cast<size_t>(nSize), 1, file.get());
    return true;
}

bool FileDeleteFileA(std::string strPath) {
    PathFormatA(strPath);
    if (HasNul(strPath)) return false;
    return remove(strPath.c_str()) == 0;
}

bool FileCopyFileA(std::string strSrc, std::string strDst, bool) {
    PathFormatA(strSrc);
    PathFormatA(strDst);
    if (HasNul(strSrc) || HasNul(strDst)) return true;
    // The destination is only opened (and emptied) once there is a readable
    // source: not for a missing source, a directory, or the destination itself.
    FileHandle src(fopen(strSrc.c_str(), "r"));
    if (!src) return true;
    struct stat stSrc, stDst;
    if (fstat(fileno(src.get()), &stSrc) != 0 || S_ISDIR(stSrc.st_mode)) return true;
    if (stat(strDst.c_str(), &stDst) == 0 && stDst.st_dev == stSrc.st_dev &&
        stDst.st_ino == stSrc.st_ino) {
        return true;
    }
    FileHandle dst(fopen(strDst.c_str(), "w"));
    if (!dst) return true;
    char szChunk[kCopyChunk];
    for (;;) {
        const size_t nRead = fread(szChunk, 1, sizeof szChunk, src.get());
        if (nRead == 0) break;
        if (fwrite(szChunk, 1, nRead, dst.get()) < nRead) break;
    }
    fflush(dst.get());
    return true;
}

bool FileDeleteDirA(std::string strPath) {
    PathRemoveSlashA(strPath);
    if (!HasNul(strPath)) RunUtility("rm", {"-rf", "--", strPath});
    return !PathExistA(strPath);
}

int FileCopyDirA(std::string strSrc, std::string strDst, int*) {
    PathRemoveSlashA(strSrc);
    PathRemoveSlashA(strDst);
    if (!HasNul(strSrc) && !HasNul(strDst)) RunUtility("cp", {"-rf", "--", strSrc, strDst});
    return 0;
}

bool FileRenameDirA(std::string strSrc, std::string strDst) {
    PathRemoveSlashA(strSrc);
    PathRemoveSlashA(strDst);
    if (!HasNul(strSrc) && !HasNul(strDst)) RunUtility("mv", {"--", strSrc, strDst});
    return PathExistA(strDst);
}

// Wide members: the narrow twin on the locale's form of each path.

bool FileEnsureDirExistW(std::wstring strPath) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) && FileEnsureDirExistA(strNarrow);
}

long long FileGetFileSizeW(std::wstring strPath) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) ? FileGetFileSizeA(strNarrow) : 0;
}

bool FileGetDirInfoW(std::wstring strPath, std::vector<std::wstring>& vecFiles,
                     std::vector<std::wstring>& vecDirs, long long& llTotal, bool bRecurse) {
    std::string strNarrow;
    if (!ToNarrow(strPath, strNarrow)) return false;
    std::vector<std::string> vecNarrowFiles, vecNarrowDirs;
    const bool bRead = FileGetDirInfoA(strNarrow, vecNarrowFiles, vecNarrowDirs, llTotal, bRecurse);
    AppendWide(vecNarrowFiles, vecFiles);
    AppendWide(vecNarrowDirs, vecDirs);
    return bRead;
}

long long FileGetDirSizeW(std::wstring strPath) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) ? FileGetDirSizeA(strNarrow) : 0;
}

bool FileGetDirFileListW(std::wstring strPath, std::vector<std::wstring>& vecFiles) {
    std::string strNarrow;
    if (!ToNarrow(strPath, strNarrow)) return false;
    std::vector<std::string> vecNarrow;
    const bool bRead = FileGetDirFileListA(strNarrow, vecNarrow);
    AppendWide(vecNarrow, vecFiles);
    return bRead;
}

bool FileGetDirListW(std::wstring strPath, std::vector<std::wstring>& vecDirs) {
    std::string strNarrow;
    if (!ToNarrow(strPath, strNarrow)) return false;
    std::vector<std::string> vecNarrow;
    const bool bRead = FileGetDirListA(strNarrow, vecNarrow);
    AppendWide(vecNarrow, vecDirs);
    return bRead;
}

bool FileIsDirEmptyW(std::wstring strPath) {
    std::string strNarrow;
    return !ToNarrow(strPath, strNarrow) || FileIsDirEmptyA(strNarrow);
}

void* FileReadBufW(std::wstring strPath, int* pnSize) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) ? FileReadBufA(strNarrow, pnSize) : nullptr;
}

bool FileWriteBufW(std::wstring strPath, const void* pData, int nSize) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) && FileWriteBufA(strNarrow, pData, nSize);
}

bool FileDeleteFileW(std::wstring strPath) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) && FileDeleteFileA(strNarrow);
}

bool FileCopyFileW(std::wstring strSrc, std::wstring strDst, bool bOverwrite) {
    std::string strNarrowSrc, strNarrowDst;
    return ToNarrow(strSrc, strNarrowSrc) && ToNarrow(strDst, strNarrowDst) &&
           FileCopyFileA(strNarrowSrc, strNarrowDst, bOverwrite);
}

bool FileDeleteDirW(std::wstring strPath) {
    std::string strNarrow;
    return ToNarrow(strPath, strNarrow) && FileDeleteDirA(strNarrow);
}

int FileCopyDirW(std::wstring strSrc, std::wstring strDst, int* pnProgress) {
    std::string strNarrowSrc, strNarrowDst;
    if (ToNarrow(strSrc, strNarrowSrc) && ToNarrow(strDst, strNarrowDst)) {
        FileCopyDirA(strNarrowSrc, strNarrowDst, pnProgress);
    }
    return 0;
}

bool FileRenameDirW(std::wstring strSrc, std::wstring strDst) {
    std::string strNarrowSrc, strNarrowDst;
    return ToNarrow(strSrc, strNarrowSrc) && ToNarrow(strDst, strNarrowDst) &&
           FileRenameDirA(strNarrowSrc, strNarrowDst);
}

}  // namespace KestLib
