// records and usage: the web API's view of a user's backups.
#include <cstdio>

#include "Commands.h"
#include "Log.h"
#include "Output.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "hostkit/Diagnosis.h"
#include "hostkit/Names.h"
#include "hostkit/SafeText.h"

namespace cli {

using hostkit::kUserNameMax;
using hostkit::NameProblem;
using hostkit::SafeText;

int RunRecords(Session& session, const RecordsArgs& args) {
    IOssManager& manager = session.manager();
    const std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra records --help'.");
    std::vector<_ST_UserInfo> records;
    if (int status = FetchRecords(manager, args.user, records)) return status;
    if (args.json) {
        PrintRecordsJson(stdout, args.user, records);
    } else if (records.empty()) {
        std::printf("%s has no backup records\n", SafeText(args.user).c_str());
    } else {
        PrintRecords(stdout, records, args.human);
    }
    return kExitOk;
}

int RunUsage(Session& session, const UsageArgs& args) {
    IOssManager& manager = session.manager();
    const std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra usage --help'.");
    const std::string what = "cannot read the used space of " + args.user;
    ForgetLibraryLines();
    const long long size = manager.GetUserUsedSize(hostkit::QueryEscape(args.user).c_str());
    if (size == 0) {
        // 0 is also what the library gives for every failure: a failed
        // request shows in its log; an answer without a size, against the
        // user's records.
        if (hostkit::Diagnose(RecentLibraryLines()).last == hostkit::Diagnosis::Last::kWebApiFailed)
            return FailCall(what);
        std::vector<_ST_UserInfo> records;
        if (int status = FetchRecords(manager, args.user, records)) return status;
        for (const _ST_UserInfo& record : records) {
            if (record.llFileSize > 0)
                return Fail(kExitFailed,
                            what + ": the web API's answer held no size, though the records of " +
                                args.user + " hold bytes",
                            LogHint());
        }
    }
    if (args.json) {
        PrintUsageJson(stdout, args.user, size);
    } else {
        PrintUsage(stdout, args.user, size);
    }
    return kExitOk;
}

}  // namespace cli
