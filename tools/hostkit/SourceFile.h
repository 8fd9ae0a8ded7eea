// A local file about to be uploaded or backed up, checked before anything
// reaches the store: the library trusts the size it is given and takes at
// most kOssMaxUploadSize bytes, and the store's multipart upload needs one.
#ifndef HOSTKIT_SOURCEFILE_H
#define HOSTKIT_SOURCEFILE_H

#include <string>

#include "hostkit/FileTarget.h"

namespace hostkit {

struct SourceFile {
    std::string path;      // what the library reads
    std::string shown;     // as the user named it (`path` when left empty)
    std::string absolute;  // absolute, for a backup record
    std::string name;      // last component
    long long size = 0;
};

// Checks that `path` is a readable regular file (symlinks followed) that the
// library can upload, and fills `file`. The error is the errno of stat or
// access, or EISDIR (a folder), ENODEV (not a regular file), ENODATA (empty),
// EFBIG (larger than one upload takes); the text names the file as shown.
FileStatus InspectSource(const std::string& path, SourceFile& file);

}  // namespace hostkit

#endif  // HOSTKIT_SOURCEFILE_H
