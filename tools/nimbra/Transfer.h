// One upload or download through the library, with the progress display and
// the pause/resume/stop controls, turned into an exit status.
#ifndef NIMBRA_CLI_TRANSFER_H
#define NIMBRA_CLI_TRANSFER_H

#include <string>

#include "LocalFiles.h"
#include "Session.h"
#include "hostkit/SourceFile.h"

namespace cli {

using LocalFile = hostkit::SourceFile;

// Checks that `path` is a readable regular file the library can upload.
// Returns kExitOk and fills `file`, or prints why not and returns the status.
int InspectLocalFile(const std::string& path, LocalFile& file);

// Uploads `file` to `key`; prints the result line on success.
int UploadWithProgress(Session& session, const LocalFile& file, const std::string& key);

// Downloads `key` (of `size` bytes) to `target`. A kReplace or kCreate target
// gets a temporary file beside it that is put in place once complete, so a
// failure, a stop or an interrupt leaves it as it was and nothing behind.
int DownloadWithProgress(Session& session, const std::string& key, long long size,
                         const WriteTarget& target);

}  // namespace cli

#endif  // NIMBRA_CLI_TRANSFER_H
