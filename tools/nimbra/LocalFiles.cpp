#include "LocalFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "Format.h"
#include "Status.h"

namespace cli {
namespace {

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

}  // namespace

int ResolveWriteTarget(const std::string& local, const std::string& name, WriteTarget& target,
                       const std::string& overwrite_hint) {
    target = WriteTarget();
    if (local == "-") {
        struct stat out {};
        target.to_output_file = ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode);
        hostkit::FileTarget& file = target.file;
        file.kind = target.to_output_file ? hostkit::FileTarget::Kind::kReplace
                                          : hostkit::FileTarget::Kind::kDirect;
        file.path =
            target.to_output_file ? hostkit::TemporaryFolder() + "/nimbra-download" : "/dev/stdout";
        file.shown = local;
        return kExitOk;
    }
    std::string path = local;
    if (overwrite_hint.empty() && hostkit::IsFolder(path)) {
        if (name.empty() || name == "." || name == "..")
            return Fail(kExitUsage, "'" + name + "' cannot name a file in " + local,
                        "Give the file to write.");
        path = hostkit::PathInFolder(path, name);
    }
    target.overwrite_hint = overwrite_hint;
    const hostkit::FileStatus status =
        hostkit::ResolveFileTarget(path, !overwrite_hint.empty(), target.file);
    if (status.error == EEXIST) return RefuseExisting(target);
    return status.ok() ? kExitOk : Fail(kExitFailed, status.text);
}

int RefuseExisting(const WriteTarget& target) {
    return Fail(kExitFailed, target.file.shown + " exists; nothing was restored",
                target.overwrite_hint);
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

int SpoolStandardInput(hostkit::TempFile& temp, long long limit) {
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
