#include "hostkit/SourceFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Nimbra/OssLimits.h"
#include "hostkit/Format.h"

namespace hostkit {
namespace {

FileStatus CannotRead(const std::string& shown) {
    const int error = errno;
    return {error, "cannot read " + shown + ": " + std::strerror(error)};
}

}  // namespace

FileStatus InspectSource(const std::string& path, SourceFile& file) {
    if (file.shown.empty()) file.shown = path;
    const std::string& shown = file.shown;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return CannotRead(shown);
    if (S_ISDIR(info.st_mode)) return {EISDIR, shown + " is a folder; give one file"};
    if (!S_ISREG(info.st_mode)) return {ENODEV, shown + " is not a regular file"};
    if (::access(path.c_str(), R_OK) != 0) return CannotRead(shown);
    if (info.st_size == 0)
        return {ENODATA, shown + " is empty; the store's multipart upload needs at least one byte"};
    if (info.st_size > kOssMaxUploadSize)
        return {EFBIG, shown + " is " + FormatBytes(info.st_size) + "; uploads are limited to " +
                           FormatBytes(kOssMaxUploadSize) + " (" + std::to_string(kOssMaxParts) +
                           " parts of " + FormatBytes(kOssPartSize) + ")"};
    file.path = path;
    file.size = info.st_size;
    char* resolved = ::realpath(path.c_str(), nullptr);
    file.absolute = resolved != nullptr ? resolved : path;
    std::free(resolved);
    const size_t slash = file.absolute.rfind('/');
    file.name = slash == std::string::npos ? file.absolute : file.absolute.substr(slash + 1);
    return {};
}

}  // namespace hostkit
