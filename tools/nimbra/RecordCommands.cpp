// records and usage: the web API's view of a user's backups.
#include <cstdio>

#include "Callbacks.h"
#include "Commands.h"
#include "Output.h"
#include "RemoteObjects.h"
#include "Status.h"

namespace cli {

int RunRecords(IOssManager& manager, const RecordsArgs& args) {
    const std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra records --help'.");
    RecordCallback callback;
    if (!manager.GetUserUploadInfo(QueryEscape(args.user).c_str(), &callback))
        return Fail(kExitFailed, "cannot read the backup records of " + args.user, NetworkHint());
    if (args.json) {
        PrintRecordsJson(stdout, args.user, callback.records());
    } else if (callback.records().empty()) {
        std::printf("%s has no backup records\n", args.user.c_str());
    } else {
        PrintRecords(stdout, callback.records(), args.human);
    }
    return kExitOk;
}

int RunUsage(IOssManager& manager, const UsageArgs& args) {
    const std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra usage --help'.");
    const std::string user = QueryEscape(args.user);
    const long long size = manager.GetUserUsedSize(user.c_str());
    // 0 is also what every failure gives: make sure the web API answers.
    if (size == 0 && !manager.GetUserUploadInfo(user.c_str(), nullptr))
        return Fail(kExitFailed, "cannot read the used space of " + args.user, NetworkHint());
    if (args.json) {
        PrintUsageJson(stdout, args.user, size);
    } else {
        PrintUsage(stdout, args.user, size);
    }
    return kExitOk;
}

}  // namespace cli
