#include "LocalFiles.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Format.h"
#include "Status.h"

namespace cli {
namespace {

constexpr int kMaxSymlinks = 40;
constexpr size_t kCopyBuffer = 1 << 20;

// Writes all of `data`; 0, or the errno of the failure.
int WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int CannotWrite(const std::string& path, int error) {
    return Fail(kExitFailed, "cannot write " + path + ": " + std::strerror(error));
}

// That the folder of the target's file exists and takes new files.
int CheckFolderOf(const WriteTarget& target) {
    const std::string folder = FolderOf(target.path);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return Fail(kExitFailed, "cannot write " + target.shown + ": no folder " + folder);
    if (::access(folder.c_str(), W_OK) != 0)
        return Fail(kExitFailed, "cannot write in " + folder + ": " + std::strerror(errno));
    return kExitOk;
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

}  // namespace

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string PathInFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

int PlaceNew(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    // EINVAL: a file system without the flag; the portable way below.
    if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

int ResolveWriteTarget(const std::string& local, const std::string& name, WriteTarget& target,
                       const std::string& overwrite_hint) {
    target = WriteTarget();
    target.shown = local;
    if (!overwrite_hint.empty()) {
        struct stat info {};
        if (::lstat(local.c_str(), &info) == 0)
            return Fail(kExitFailed, local + " exists; nothing was restored", overwrite_hint);
        if (errno != ENOENT) return CannotWrite(local, errno);
        target.kind = WriteTarget::kCreate;
        target.path = local;
        target.overwrite_hint = overwrite_hint;
        return CheckFolderOf(target);
    }
    if (local == "-") {
        struct stat out {};
        const bool file = ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode);
        target.kind = file ? WriteTarget::kAppendToOutput : WriteTarget::kDirect;
        target.path = file ? TemporaryFolder() + "/nimbra-download" : "/dev/stdout";
        return kExitOk;
    }
    std::string path = local;
    if (IsFolder(path)) {
        if (name.empty() || name == "." || name == "..")
            return Fail(kExitUsage, "'" + name + "' cannot name a file in " + local,
                        "Give the file to write.");
        path += (path.back() == '/' ? "" : "/") + name;
        target.shown = path;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Fail(kExitFailed, path + " is a folder");
        if (!S_ISREG(info.st_mode)) {
            target.kind = WriteTarget::kDirect;  // a terminal, pipe or device
            target.path = path;
            return kExitOk;
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
        if (!FollowDangling(path)) return CannotWrite(target.shown, errno);
        target.path = path;
    } else {
        return CannotWrite(target.shown, errno);
    }
    return CheckFolderOf(target);
}

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] == '/' ? dir : "/tmp";
}

TempFile::~TempFile() {
    Close();
    if (!path_.empty()) ::unlink(path_.c_str());
}

int TempFile::Create(const std::string& prefix) {
    std::string path = prefix + ".nimbra-XXXXXX";
    const int fd = ::mkostemp(&path[0], O_CLOEXEC);
    if (fd < 0)
        return Fail(kExitFailed,
                    "cannot create a temporary file " + path + ": " + std::strerror(errno));
    fd_ = fd;
    path_ = path;
    on_interrupt_.emplace(path_);
    return kExitOk;
}

void TempFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TempFile::Keep() {
    path_.clear();
    on_interrupt_.reset();
}

int CopyToStandardOutput(const std::string& path) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return Fail(kExitFailed, "cannot read " + path + ": " + std::strerror(errno));
    std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
    int error = 0;
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kCopyBuffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        error = WriteAll(STDOUT_FILENO, buffer.get(), static_cast<size_t>(got));
        if (error != 0) break;
    }
    ::close(in);
    if (error != 0)
        return Fail(kExitFailed,
                    std::string("cannot write standard output: ") + std::strerror(error));
    return kExitOk;
}

void TakeModeOf(int fd, const WriteTarget& target) {
    if (!target.exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        return;
    }
    // The owner first (a change of owner drops set-user-ID bits); should it
    // fail, the file stays root's with the old one's mode.
    if (::geteuid() == 0) {
        const int ignored = ::fchown(fd, target.uid, target.gid);
        (void)ignored;
    }
    ::fchmod(fd, target.mode);
}

int SpoolStandardInput(TempFile& temp, long long limit) {
    std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
    long long total = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer.get(), kCopyBuffer);
        if (got == 0) return kExitOk;
        if (got < 0) {
            if (errno == EINTR) continue;
            return Fail(kExitFailed,
                        std::string("cannot read standard input: ") + std::strerror(errno));
        }
        total += got;
        if (total > limit)
            return Fail(kExitFailed, "standard input holds more than " + FormatBytes(limit) +
                                         ", the most one upload takes");
        const int error = WriteAll(temp.fd(), buffer.get(), static_cast<size_t>(got));
        if (error != 0)
            return Fail(kExitFailed, "cannot write " + temp.path() + ": " + std::strerror(error));
    }
}

}  // namespace cli
