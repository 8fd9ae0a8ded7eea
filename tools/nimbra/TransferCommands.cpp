// upload and download.
#include "BuildInfo.h"
#include "Commands.h"
#include "LocalFiles.h"
#include "Names.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "Transfer.h"

namespace cli {

int RunUpload(IOssManager& manager, const UploadArgs& args) {
    const bool from_stdin = args.local == "-";
    if (from_stdin && (args.key.empty() || args.key.back() == '/'))
        return Fail(kExitUsage, "an upload of standard input needs the object's full key",
                    "Try 'nimbra upload --help'.");
    LocalFile file;
    // The library reads a file of known size: standard input is spooled first.
    TempFile spool;
    if (from_stdin) {
        if (int status = spool.Create(TemporaryFolder() + "/nimbra-stdin")) return status;
        if (int status = SpoolStandardInput(spool, kMaxUploadSize)) return status;
        spool.Close();
        file.shown = "standard input";
    }
    if (int status = InspectLocalFile(from_stdin ? spool.path() : args.local, file)) return status;
    std::string key = args.key;
    if (!key.empty() && key.back() == '/') key += file.name;
    const std::string problem = KeyProblem(key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra upload --help'.");
    return UploadWithProgress(manager, file, key);
}

int RunDownload(IOssManager& manager, const DownloadArgs& args) {
    const std::string problem = KeyProblem(args.key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra download --help'.");
    std::string folder, name;
    SplitKey(args.key, folder, name);
    WriteTarget target;
    if (int status = ResolveWriteTarget(args.local, name, target)) return status;

    const Lookup lookup = FindObject(manager, args.key);
    if (lookup.state == Lookup::kFailed) return lookup.status;
    if (lookup.state == Lookup::kMissing)
        return Fail(kExitFailed, "no object " + args.key + " in bucket " + kBucket,
                    "See what is there with: nimbra ls " + (folder == "/" ? "" : folder));
    return DownloadWithProgress(manager, args.key, lookup.size, target);
}

}  // namespace cli
