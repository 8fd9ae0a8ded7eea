#include "hostkit/FileTarget.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace hostkit {
namespace {

constexpr int kMaxSymlinks = 40;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileStatus CannotWrite(const std::string& path, int error) {
    return {error, "cannot write " + path + ": " + std::strerror(error)};
}

// The file a dangling chain of symlinks ends at, to be created; false with
// errno set when the chain loops or cannot be read.
bool FollowDangling(std::string& path) {
    for (int hops = 0; hops < kMaxSymlinks; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
        if (!S_ISLNK(info.st_mode)) return true;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0) return false;
        const std::string next(link, static_cast<size_t>(n));
        path = next[0] == '/' ? next : FolderOf(path) + "/" + next;
    }
    errno = ELOOP;
    return false;
}

// That the folder of the target's file exists and takes new files.
FileStatus CheckFolderOf(const FileTarget& target) {
    const std::string folder = FolderOf(target.path);
    if (!IsFolder(folder))
        return {ENOENT, "cannot write " + target.shown + ": no folder " + folder};
    if (::access(folder.c_str(), W_OK) != 0) {
        const int error = errno;
        return {error, "cannot write in " + folder + ": " + std::strerror(error)};
    }
    return {};
}

// kReplace or kDirect: what is at `path`, symlinks followed.
FileStatus ResolveExisting(const std::string& path, FileTarget& target) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return {EISDIR, path + " is a folder"};
        if (!S_ISREG(info.st_mode)) {
            target.kind = FileTarget::Kind::kDirect;
            target.path = path;
            return {};
        }
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (!real) return CannotWrite(path, errno);
        if (::access(real.get(), W_OK) != 0) return CannotWrite(path, errno);
        target.path = real.get();
        target.exists = true;
        target.mode = info.st_mode & 07777;
        target.uid = info.st_uid;
        target.gid = info.st_gid;
    } else if (errno == ENOENT) {
        std::string followed = path;
        if (!FollowDangling(followed)) return CannotWrite(target.shown, errno);
        target.path = followed;
    } else {
        return CannotWrite(target.shown, errno);
    }
    return CheckFolderOf(target);
}

}  // namespace

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

FileStatus ResolveFileTarget(const std::string& path, bool create_only, FileTarget& target) {
    target = FileTarget();
    target.shown = path;
    if (!create_only) return ResolveExisting(path, target);
    target.kind = FileTarget::Kind::kCreate;
    target.path = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) return {EEXIST, path + " exists"};
    if (errno != ENOENT) return CannotWrite(path, errno);
    return CheckFolderOf(target);
}

}  // namespace hostkit
