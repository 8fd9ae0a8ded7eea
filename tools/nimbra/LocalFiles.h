// Local files as a download writes them and an upload reads them: "-" for
// the standard streams, symlinks written through, an existing file's mode
// and owner kept, and temporary files that no exit leaves behind.
#ifndef NIMBRA_CLI_LOCALFILES_H
#define NIMBRA_CLI_LOCALFILES_H

#include <sys/types.h>

#include <optional>
#include <string>

#include "Control.h"

namespace cli {

// Where a download goes.
struct WriteTarget {
    // kReplace: a temporary file beside `path` is renamed over it once
    // complete. kCreate: the same, but put in place only where nothing is
    // (PlaceNew), never over a file or through a symlink. kDirect: the
    // library writes into `path` as it goes (a terminal, a pipe or another
    // device, standard output among them).
    // kAppendToOutput: standard output is a file, which a download must not
    // truncate (the library opens its path anew): a temporary file is copied
    // to it once complete.
    enum Kind { kReplace, kCreate, kDirect, kAppendToOutput } kind = kReplace;
    std::string shown;           // as the user named it; "-" for standard output
    std::string path;            // kReplace: the file itself, symlinks followed
    std::string overwrite_hint;  // kCreate: how to overwrite, when a file is there
    bool exists = false;         // kReplace: a file is there, whose mode and owner
    mode_t mode = 0;             // the new one keeps
    uid_t uid = 0;
    gid_t gid = 0;
};

// Works out where a download named `local` goes: "-" is standard output,
// an existing folder gets `name` appended, and a symlink (also a dangling
// one) leads to the file it names. With `overwrite_hint`, `local` is a file
// to create (kCreate): when anything is there, a symlink included, it says
// so with that hint. Returns kExitOk, or reports why not and returns the
// status.
int ResolveWriteTarget(const std::string& local, const std::string& name, WriteTarget& target,
                       const std::string& overwrite_hint = "");

// Whether `path` is a folder (or a symlink to one).
bool IsFolder(const std::string& path);

// `name` in `folder` ("" for the current one).
std::string PathInFolder(const std::string& folder, const std::string& name);

// Moves the file `from` to `to` unless something is there (a file, a
// symlink, a folder), checked as it is put in place: 0, or the errno of the
// failure, EEXIST when something was there.
int PlaceNew(const std::string& from, const std::string& to);

// The folder for temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder();

// A temporary file that is removed on every exit, an interrupt included,
// unless it was kept (renamed into place).
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates `prefix` + ".nimbra-XXXXXX", mode 0600, open for writing.
    // Returns kExitOk, or reports why not and returns the status.
    int Create(const std::string& prefix);
    int fd() const { return fd_; }
    void Close();
    const std::string& path() const { return path_; }
    void Keep();

private:
    std::string path_;
    int fd_ = -1;
    std::optional<RemoveOnInterrupt> on_interrupt_;
};

// Copies the file at `path` to standard output. Returns kExitOk, or reports
// why not and returns the status.
int CopyToStandardOutput(const std::string& path);

// Gives the open file `fd` the mode (and, for root, the owner) a download
// to `target` should have: the replaced file's, else 0666 less the umask.
void TakeModeOf(int fd, const WriteTarget& target);

// Copies standard input into `temp`, at most `limit` bytes. Returns kExitOk,
// or reports why not and returns the status.
int SpoolStandardInput(TempFile& temp, long long limit);

}  // namespace cli

#endif  // NIMBRA_CLI_LOCALFILES_H
