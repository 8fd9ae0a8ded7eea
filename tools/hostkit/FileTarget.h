// Where a download's bytes end up on the local disk, and whether an existing
// file there may be replaced.
#ifndef HOSTKIT_FILETARGET_H
#define HOSTKIT_FILETARGET_H

#include <sys/types.h>

#include <string>

namespace hostkit {

// The outcome of a step on a local file.
struct FileStatus {
    int error = 0;     // 0, or an errno value; EEXIST: something is where a new file was to go
    std::string text;  // what went wrong, naming the file ("cannot write dl/x: ...", "dl/x exists")
    bool ok() const { return error == 0; }
};

struct FileTarget {
    // kReplace: the file the user named; an existing one is replaced (its
    // mode and owner kept), symlinks are followed, a dangling one to the file
    // it names. kCreate: a new file, put in place only where nothing is: never
    // over a file, never through a symlink, checked again at the moment it is
    // put in place. kDirect: an existing terminal, pipe or other device, which
    // the library writes into as it goes.
    enum class Kind { kReplace, kCreate, kDirect } kind = Kind::kReplace;
    std::string shown;    // as the user named it
    std::string path;     // the file to write (kReplace: symlinks followed)
    bool exists = false;  // kReplace: a file is there, whose mode and owner the new one keeps
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Works out `target` for the file `path`: kCreate when `create_only`, else
// kReplace (or kDirect for a device). Checks that the folder exists and takes
// new files; kCreate fails with EEXIST when anything is at `path`.
FileStatus ResolveFileTarget(const std::string& path, bool create_only, FileTarget& target);

// Whether `path` is a folder (or a symlink to one).
bool IsFolder(const std::string& path);

// `name` in `folder` ("" for the current one). Check a name that came from a
// server with FileNameProblem first.
std::string PathInFolder(const std::string& folder, const std::string& name);

}  // namespace hostkit

#endif  // HOSTKIT_FILETARGET_H
