// Downloads written under a temporary name and put in place once complete,
// so that a failed, stopped or interrupted download leaves the file it was
// meant for as it was, and nothing behind.
#ifndef HOSTKIT_PENDINGFILE_H
#define HOSTKIT_PENDINGFILE_H

#include <string>

#include "hostkit/FileTarget.h"

namespace hostkit {

// The folder for temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder();

// A temporary file, removed when this object goes unless it was kept.
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates `prefix` + ".nimbra-XXXXXX", mode 0600, open for writing.
    FileStatus Create(const std::string& prefix);
    int fd() const { return fd_; }
    void Close();
    const std::string& path() const { return path_; }
    void Keep();  // no longer removed (it was renamed into place)

private:
    std::string path_;
    int fd_ = -1;
};

// Moves the file `from` to `to` unless something is at `to` (a file, a
// symlink, dangling or not, a folder), checked at the moment it is put in
// place: renameat2 with RENAME_NOREPLACE where the system has it, else a
// hard link and an unlink. 0, or the errno of the failure (EEXIST).
int PlaceNew(const std::string& from, const std::string& to);

// The file a download writes for a kReplace or kCreate target: a temporary
// file beside it (so that the rename stays on one file system), given the
// mode (and, for root, the owner) the file should have: the replaced file's,
// else 0666 less the umask.
class PendingFile {
public:
    FileStatus Open(const FileTarget& target);
    const std::string& path() const { return temp_.path(); }  // what the library writes
    // The bytes it holds now; -1 when it cannot be read.
    long long Size() const;
    // Renames it over a kReplace target; puts it in place for kCreate only
    // where nothing is (EEXIST otherwise). Call it once the download is
    // complete (Size() is the object's size).
    FileStatus Place();

private:
    FileTarget target_;
    TempFile temp_;
};

}  // namespace hostkit

#endif  // HOSTKIT_PENDINGFILE_H
