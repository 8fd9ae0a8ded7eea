// upload and download.
#include <optional>

#include "BuildInfo.h"
#include "Commands.h"
#include "Control.h"
#include "LocalFiles.h"
#include "Nimbra/OssLimits.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "Transfer.h"
#include "hostkit/Names.h"

namespace cli {

int RunUpload(Session& session, const UploadArgs& args) {
    const bool from_stdin = args.local == "-";
    if (from_stdin && (args.key.empty() || args.key.back() == '/'))
        return Fail(kExitUsage, "an upload of standard input needs the object's full key",
                    "Try 'nimbra upload --help'.");
    LocalFile file;
    // The library reads a file of known size: standard input is spooled first.
    hostkit::TempFile spool;
    std::optional<RemoveOnInterrupt> on_interrupt;
    if (from_stdin) {
        const hostkit::FileStatus created =
            spool.Create(hostkit::TemporaryFolder() + "/nimbra-stdin");
        if (!created.ok()) return Fail(kExitFailed, created.text);
        on_interrupt.emplace(spool.path());
        if (int status = SpoolStandardInput(spool, kOssMaxUploadSize)) return status;
        spool.Close();
        file.shown = "standard input";
    }
    if (int status = InspectLocalFile(from_stdin ? spool.path() : args.local, file)) return status;
    std::string key = args.key;
    if (!key.empty() && key.back() == '/') key += file.name;
    const std::string problem = hostkit::KeyProblem(key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra upload --help'.");
    return UploadWithProgress(session, file, key);
}

int RunDownload(Session& session, const DownloadArgs& args) {
    const std::string problem = hostkit::KeyProblem(args.key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra download --help'.");
    std::string folder, name;
    hostkit::SplitKey(args.key, folder, name);
    WriteTarget target;
    if (int status = ResolveWriteTarget(args.local, name, target)) return status;

    const Lookup lookup = FindObject(session.manager(), args.key);
    if (lookup.state == Lookup::State::kFailed) return lookup.status;
    if (lookup.state == Lookup::State::kMissing)
        return Fail(kExitFailed, "no object " + args.key + " in bucket " + kBucket,
                    "See what is there with: nimbra ls " + (folder == "/" ? "" : folder));
    return DownloadWithProgress(session, args.key, lookup.size, target);
}

}  // namespace cli
