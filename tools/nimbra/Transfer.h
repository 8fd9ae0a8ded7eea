// One upload or download through the library, with the progress display and
// the pause/resume/stop controls, turned into an exit status.
#ifndef NIMBRA_CLI_TRANSFER_H
#define NIMBRA_CLI_TRANSFER_H

#include <string>

#include "Nimbra/Nimbra.h"

namespace cli {

struct LocalFile {
    std::string path;      // as given
    std::string absolute;  // absolute, for the backup record
    std::string name;      // last component
    long long size = 0;
};

// Checks that `path` is a readable regular file the library can upload.
// Returns kExitOk and fills `file`, or prints why not and returns the status.
int InspectLocalFile(const std::string& path, LocalFile& file);

// Uploads `file` to `key`; prints the result line on success.
int UploadWithProgress(IOssManager& manager, const LocalFile& file, const std::string& key);

// Downloads `key` (of `size` bytes) into a temporary file beside `target`
// and renames it over `target` once complete; nothing is left behind on a
// failure or a stop.
int DownloadWithProgress(IOssManager& manager, const std::string& key, long long size,
                         const std::string& target);

}  // namespace cli

#endif  // NIMBRA_CLI_TRANSFER_H
