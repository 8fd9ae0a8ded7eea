#include "hostkit/PendingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostkit {
namespace {

// Gives the open file `fd` the mode (and, for root, the owner) a download to
// `target` should have.
void TakeModeOf(int fd, const FileTarget& target) {
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

}  // namespace

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] == '/' ? dir : "/tmp";
}

TempFile::~TempFile() {
    Close();
    if (!path_.empty()) ::unlink(path_.c_str());
}

FileStatus TempFile::Create(const std::string& prefix) {
    std::string path = prefix + ".nimbra-XXXXXX";
    const int fd = ::mkostemp(&path[0], O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {error, "cannot create a temporary file " + path + ": " + std::strerror(error)};
    }
    fd_ = fd;
    path_ = path;
    return {};
}

void TempFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TempFile::Keep() {
    path_.clear();
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

FileStatus PendingFile::Open(const FileTarget& target) {
    target_ = target;
    FileStatus status = temp_.Create(target.path);
    if (!status.ok()) return status;
    TakeModeOf(temp_.fd(), target);
    temp_.Close();
    return status;
}

long long PendingFile::Size() const {
    struct stat info {};
    return ::stat(temp_.path().c_str(), &info) == 0 ? info.st_size : -1;
}

FileStatus PendingFile::Place() {
    int error = 0;
    if (target_.kind == FileTarget::Kind::kCreate) {
        error = PlaceNew(temp_.path(), target_.path);
        if (error == EEXIST) return {error, target_.shown + " exists"};
    } else if (std::rename(temp_.path().c_str(), target_.path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) return {error, "cannot write " + target_.shown + ": " + std::strerror(error)};
    temp_.Keep();
    return {};
}

}  // namespace hostkit
