// ls and rm.
#include <cstdio>

#include "BuildInfo.h"
#include "Commands.h"
#include "Log.h"
#include "Output.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "hostkit/Backups.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"
#include "hostkit/SafeText.h"

namespace cli {
namespace {

using hostkit::kUserNameMax;
using hostkit::NameProblem;
using hostkit::SafeText;

// The record whose bytes lie at `key`, among `records`; null when none.
const _ST_UserInfo* RecordOf(const std::vector<_ST_UserInfo>& records, const std::string& key) {
    for (const _ST_UserInfo& record : records) {
        if (hostkit::BackupKey(record) == key) return &record;
    }
    return nullptr;
}

}  // namespace

int RunList(Session& session, const ListArgs& args) {
    const std::string prefix = hostkit::FolderPrefix(args.prefix);
    // Each page is printed as it arrives: the first entries of a large
    // folder show at once, and nothing accumulates. Ctrl-C ends the listing.
    ListingPrinter printer(stdout, prefix, args.json, args.human);
    const hostkit::JobOutcome outcome = session.List(
        prefix, [&printer](const std::vector<hostkit::ListEntry>& page) { printer.Page(page); });
    const bool stopped = outcome.end == hostkit::JobOutcome::End::kStopped;
    printer.Finish(outcome.end == hostkit::JobOutcome::End::kDone);
    if (outcome.end == hostkit::JobOutcome::End::kFailed)
        return FailCall("cannot list " + prefix, outcome.result);
    if (stopped)
        return Fail(kExitStopped,
                    "listing stopped after " + std::to_string(printer.entries()) + " entries");
    if (printer.entries() == 0 && !args.json)
        std::fprintf(stderr, "nimbra: nothing %s in bucket %s\n",
                     prefix == "/" ? "at the top level" : ("under " + SafeText(prefix)).c_str(),
                     kBucket);
    return kExitOk;
}

int RunRemove(Session& session, const RemoveArgs& args) {
    IOssManager& manager = session.manager();
    std::string problem = hostkit::KeyProblem(args.key);
    if (problem.empty() && !args.user.empty())
        problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra rm --help'.");

    const Lookup lookup = FindObject(manager, args.key);
    if (lookup.state == Lookup::State::kFailed) return lookup.status;
    if (lookup.state == Lookup::State::kMissing)
        return Fail(kExitFailed, "no object " + args.key + " in bucket " + kBucket,
                    "Nothing was deleted.");

    // What goes: the object, the backup whose bytes it holds (its key starts
    // with the owner's name), and with --user every record of that user,
    // since the web API deletes a user's records only all together.
    std::vector<_ST_UserInfo> doomed;
    if (!args.user.empty()) {
        if (int status = FetchRecords(manager, args.user, doomed)) return status;
    }
    const std::string owner = args.key.substr(0, args.key.find('/'));
    std::vector<_ST_UserInfo> owned;
    if (owner == args.user) {
        owned = doomed;
    } else if (NameProblem("user name", owner, kUserNameMax).empty()) {
        FetchRecords(manager, owner, owned, true);  // only to say more
    }
    const _ST_UserInfo* backup = RecordOf(owned, args.key);

    const std::string user = hostkit::QueryEscape(args.user);
    ForgetLibraryLines();
    if (!manager.DeleteRemoteFile(args.user.empty() ? nullptr : user.c_str(), args.key.c_str()))
        return FailCall("cannot delete " + args.key);
    if (backup == nullptr) {
        std::printf("removed %s\n", SafeText(args.key).c_str());
    } else {
        std::printf("removed %s, the bytes of the %s%s\n", SafeText(args.key).c_str(),
                    SafeText(hostkit::DescribeRecord(*backup)).c_str(),
                    args.user == owner ? "" : ", whose record stays");
    }
    if (args.user.empty()) return kExitOk;

    // The library does not say whether the records went; ask.
    std::vector<_ST_UserInfo> left;
    if (int status = FetchRecords(manager, args.user, left)) return status;
    if (!left.empty())
        return Fail(
            kExitFailed,
            "the web API kept " + std::to_string(left.size()) + " record(s) of " + args.user,
            "Run 'nimbra rm' again or check the web API. " + LogHint());
    std::string ids;
    for (const _ST_UserInfo& record : doomed)
        ids += (ids.empty() ? "" : ", ") + std::to_string(record.nId);
    if (doomed.empty()) {
        std::printf("%s had no backup records\n", SafeText(args.user).c_str());
    } else {
        std::printf("deleted all %zu backup records of %s (ids %s)\n", doomed.size(),
                    SafeText(args.user).c_str(), ids.c_str());
    }
    return kExitOk;
}

}  // namespace cli
