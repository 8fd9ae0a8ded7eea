// backup and restore: each backup's bytes under a key of its own
// (hostkit/Backups.h), registered as a record at the web API.
#include <cstdio>

#include "BuildInfo.h"
#include "Commands.h"
#include "Format.h"
#include "LocalFiles.h"
#include "Log.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "Transfer.h"
#include "hostkit/Backups.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"
#include "hostkit/SafeText.h"

namespace cli {
namespace {

using hostkit::FieldText;
using hostkit::kUserNameMax;
using hostkit::NameProblem;
using hostkit::SafeText;

}  // namespace

int RunBackup(Session& session, const BackupArgs& args) {
    IOssManager& manager = session.manager();
    std::string problem = hostkit::BackupNamesProblem(args.user, args.backup);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra backup --help'.");
    if (args.expire_days < 0 || args.expire_days > hostkit::kMaxExpireDays)
        return Fail(kExitUsage,
                    "--expire-days must be from 0 to " + std::to_string(hostkit::kMaxExpireDays),
                    "Try 'nimbra backup --help'.");

    LocalFile file;
    if (int status = InspectLocalFile(args.local, file)) return status;
    problem = hostkit::RecordFitProblem(file);
    if (!problem.empty()) return Fail(kExitFailed, problem);

    // A key of its own, from the record's date and time; never over an
    // object that is there already.
    ForgetLibraryLines();
    const hostkit::BackupSlot slot =
        hostkit::FindBackupSlot(manager, args.user, args.backup, file.name);
    switch (slot.state) {
        case hostkit::BackupSlot::State::kBadKey:
            return Fail(kExitUsage, slot.problem, "Try 'nimbra backup --help'.");
        case hostkit::BackupSlot::State::kFailed:
            return FailCall("cannot look up " + slot.key, slot.result);
        case hostkit::BackupSlot::State::kTaken:
            return Fail(kExitFailed, slot.key + " exists already; nothing was uploaded",
                        "Is another backup of " + args.user + " running? Try again.");
        case hostkit::BackupSlot::State::kFree:
            break;
    }
    const std::string& key = slot.key;
    if (int status = UploadWithProgress(session, file, key)) return status;

    const _ST_UserInfo info =
        hostkit::MakeRecord(args.user, args.backup, slot, file, args.expire_days);
    bool registered = false;
    ForgetLibraryLines();
    {
        const StderrToLog quiet;  // the library's POST traces on stderr
        registered = manager.InsertUserInfo(info);
    }
    if (!registered) {
        const int status = FailCall("the web API did not register the backup record");
        std::fprintf(stderr, "  The bytes stay at %s; run the backup again for a new copy.\n",
                     SafeText(key).c_str());
        return status;
    }
    std::printf("registered backup '%s' of %s: %s, %s, %s as %s\n", SafeText(args.backup).c_str(),
                SafeText(args.user).c_str(), SafeText(file.name).c_str(),
                FormatBytes(file.size).c_str(), slot.date_time.c_str(), SafeText(key).c_str());
    return kExitOk;
}

int RunRestore(Session& session, const RestoreArgs& args) {
    IOssManager& manager = session.manager();
    const std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra restore --help'.");
    if ((args.id > 0) == (args.position > 0))
        return Fail(kExitUsage, "name the record by --id or by --pos",
                    "Try 'nimbra restore --help'.");

    std::vector<_ST_UserInfo> records;
    if (int status = FetchRecords(manager, args.user, records)) return status;
    const _ST_UserInfo* record = hostkit::SelectRecord(records, args.id, args.position);
    if (record == nullptr)
        return Fail(kExitFailed,
                    (args.id > 0 ? "no record with id " + std::to_string(args.id)
                                 : "no record at position " + std::to_string(args.position)) +
                        " among the " + std::to_string(records.size()) + " backup records of " +
                        args.user,
                    "See them with: nimbra records " + args.user);
    const std::string what = hostkit::DescribeRecord(*record);
    const std::string name = FieldText(record->szFileName);
    std::string key;
    const std::string refused = hostkit::RestoreProblem(*record, key);
    if (!refused.empty()) return Fail(kExitFailed, refused, "Nothing was restored.");

    // Into a folder (the current one by default) the record's file goes
    // only as a new file; a file the user names may be overwritten.
    std::string local = args.local;
    std::string overwrite_hint;
    if (local.empty() || (local != "-" && hostkit::IsFolder(local))) {
        local = hostkit::PathInFolder(local, name);
        overwrite_hint = "To overwrite it, name it: nimbra restore " + args.user + " " + local +
                         (args.id > 0 ? " --id " + std::to_string(args.id)
                                      : " --pos " + std::to_string(args.position));
    }
    WriteTarget target;
    if (int status = ResolveWriteTarget(local, name, target, overwrite_hint)) return status;

    const Lookup lookup = FindObject(manager, key);
    if (lookup.state == Lookup::State::kFailed) return lookup.status;
    if (lookup.state == Lookup::State::kMissing)
        return Fail(kExitFailed, "the bytes of the " + what + " are gone: no object " + key +
                                     " in bucket " + kBucket);
    if (lookup.size != record->llFileSize)
        return Fail(kExitFailed, key + " holds " + std::to_string(lookup.size) +
                                     " bytes, but the " + what + " says " +
                                     std::to_string(record->llFileSize) + "; nothing was restored");
    FILE* const out = target.file.shown == "-" ? stderr : stdout;
    std::fprintf(out, "restoring the %s\n", SafeText(what).c_str());
    std::fflush(out);  // before the progress lines on stderr
    return DownloadWithProgress(session, key, lookup.size, target);
}

}  // namespace cli
