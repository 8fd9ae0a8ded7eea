// Local files as the command line names them: "-" for the standard streams,
// a folder for a download's own name; the rest is the kit's (FileTarget.h,
// PendingFile.h).
#ifndef NIMBRA_CLI_LOCALFILES_H
#define NIMBRA_CLI_LOCALFILES_H

#include <string>

#include "hostkit/FileTarget.h"
#include "hostkit/PendingFile.h"

namespace cli {

// Where a download goes.
struct WriteTarget {
    // What the library's bytes go to: a kReplace or kCreate file through a
    // temporary file beside it, or kDirect into a terminal, a pipe or another
    // device (standard output among them).
    hostkit::FileTarget file;
    // Standard output is a file, which a download must not truncate (the
    // library opens its path anew): the bytes go to a temporary file, copied
    // to it once complete.
    bool to_output_file = false;
    std::string overwrite_hint;  // kCreate: how to overwrite, when a file is there
};

// Works out where a download named `local` goes: "-" is standard output, an
// existing folder gets `name` appended, and a symlink (also a dangling one)
// leads to the file it names. With `overwrite_hint`, `local` is a file to
// create (kCreate): when anything is there, a symlink included, it says so
// with that hint. Returns kExitOk, or reports why not and returns the status.
int ResolveWriteTarget(const std::string& local, const std::string& name, WriteTarget& target,
                       const std::string& overwrite_hint = "");

// Reports that a kCreate target turned out to exist; returns the status.
int RefuseExisting(const WriteTarget& target);

// Copies the file at `path` to standard output. Returns kExitOk, or reports
// why not and returns the status.
int CopyToStandardOutput(const std::string& path);

// Copies standard input into `temp`, at most `limit` bytes. Returns kExitOk,
// or reports why not and returns the status.
int SpoolStandardInput(hostkit::TempFile& temp, long long limit);

}  // namespace cli

#endif  // NIMBRA_CLI_LOCALFILES_H
