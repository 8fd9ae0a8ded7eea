// ls and rm.
#include <cstdio>

#include "BuildInfo.h"
#include "Callbacks.h"
#include "Commands.h"
#include "Control.h"
#include "Output.h"
#include "RemoteObjects.h"
#include "Status.h"

namespace cli {

int RunList(IOssManager& manager, const ListArgs& args) {
    const std::string prefix = FolderPrefix(args.prefix);
    bool stop = false;
    ListCallback callback(&stop);
    bool ok = false;
    bool stopped = false;
    {
        // Ctrl-C ends the listing through its own stop request.
        ControlActions actions;
        actions.stop = [&stop] { __atomic_store_n(&stop, true, __ATOMIC_SEQ_CST); };
        ControlThread control(std::move(actions));
        ok = manager.ListRemotePath(prefix.c_str(), &callback, &stop);
        stopped = control.stop_requested();
    }
    if (!ok) {
        if (!callback.outcome().ended) return FailCredentials("cannot list " + prefix);
        return FailWithResult(callback.outcome().result, "cannot list " + prefix);
    }
    if (stopped) return Fail(kExitStopped, "listing stopped");
    if (args.json) {
        PrintListingJson(stdout, prefix, callback.entries());
    } else {
        PrintListing(stdout, callback.entries(), args.human);
    }
    return kExitOk;
}

int RunRemove(IOssManager& manager, const RemoveArgs& args) {
    std::string problem = KeyProblem(args.key);
    if (problem.empty() && !args.user.empty())
        problem = NameProblem("user name", args.user, sizeof(_ST_UserInfo::szName) - 1);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra rm --help'.");

    const Lookup lookup = FindObject(manager, args.key);
    if (lookup.state == Lookup::kFailed) {
        if (lookup.credentials) return FailCredentials("cannot look up " + args.key);
        return FailWithResult(lookup.result, "cannot look up " + args.key);
    }
    if (lookup.state == Lookup::kMissing)
        return Fail(kExitFailed, "no object " + args.key + " in bucket " + kBucket,
                    "Nothing was deleted.");

    const std::string user = QueryEscape(args.user);
    if (!manager.DeleteRemoteFile(args.user.empty() ? nullptr : user.c_str(), args.key.c_str()))
        return Fail(kExitFailed, "cannot delete " + args.key, NetworkHint());
    std::printf("removed %s\n", args.key.c_str());
    if (args.user.empty()) return kExitOk;

    // The library does not say whether the records went; ask.
    RecordCallback records;
    if (!manager.GetUserUploadInfo(user.c_str(), &records))
        return Fail(kExitFailed,
                    "removed " + args.key + ", but cannot check the records of " + args.user,
                    NetworkHint());
    if (!records.records().empty())
        return Fail(kExitFailed,
                    "removed " + args.key + ", but the web API kept " +
                        std::to_string(records.records().size()) + " record(s) of " + args.user,
                    "Run 'nimbra rm' again or check the web API. " + LogHint());
    std::printf("deleted the backup records of %s\n", args.user.c_str());
    return kExitOk;
}

}  // namespace cli
