// Where a backup's bytes lie, and the record that names them. Each backup
// has an object key of its own, USER/BACKUP/STAMP/FILE, STAMP made from the
// record's date and time (to the millisecond), so a later backup of the same
// file, or of another file with the same name, never replaces an earlier
// one: look the key up first (FindObject) and take a new time if it is taken.
#ifndef HOSTKIT_BACKUPS_H
#define HOSTKIT_BACKUPS_H

#include <chrono>
#include <functional>
#include <string>

#include "Nimbra/Nimbra.h"
#include "hostkit/SourceFile.h"

namespace hostkit {

// The record's date and time: local time to the millisecond,
// "2024-12-05 15:40:02.123".
std::string BackupDateTime(std::chrono::system_clock::time_point when);

// The key component made from a record's date and time: its ASCII letters,
// digits and dots, a space becoming 'T' ("20241205T154002.123"); "" when
// nothing is left.
std::string BackupStamp(const std::string& date_time);

// The object key of a backup, or "" when its fields make none: the date and
// time give no stamp, or the user, backup or file name is empty or holds a
// '/' (the key's four components are always the record's fields).
std::string BackupKey(const std::string& user, const std::string& backup,
                      const std::string& date_time, const std::string& file_name);
std::string BackupKey(const _ST_UserInfo& record);

// Empty when `record` can be restored: its file name is a plain name (a
// record from a server may hold any) and its fields give a valid object key,
// set in `key`. Otherwise what is wrong, naming the record as DescribeRecord
// does.
std::string RestoreProblem(const _ST_UserInfo& record, std::string& key);

// The widest backup name and path a record holds, terminator excluded, and
// the longest expiry a backup takes, in days.
constexpr size_t kBackupNameMax = sizeof(_ST_UserInfo::szBackupName) - 1;
constexpr size_t kRecordPathMax = sizeof(_ST_UserInfo::szFilePath) - 1;
constexpr long long kMaxExpireDays = 365LL * 1000;

// Empty when `user` and `backup` can name a backup; otherwise what is wrong
// with the first that cannot.
std::string BackupNamesProblem(const std::string& user, const std::string& backup);

// Empty when a record holds the file's absolute path and name; otherwise
// which is too long.
std::string RecordFitProblem(const SourceFile& file);

// Where a backup's bytes go: a key that no object has yet.
struct BackupSlot {
    enum class State {
        kFree,    // `key` is free; `when` and `date_time` are the record's
        kBadKey,  // the names give no valid key: `problem` says why
        kTaken,   // every key tried was taken (another backup running?)
        kFailed,  // the lookup failed: `result` is its final report, 0 when none came
    } state = State::kFailed;
    std::chrono::system_clock::time_point when;
    std::string date_time, key;
    std::string problem;
    int result = 0;
};

// Takes the time now as the backup's date and time and looks its key up in
// the store (a store operation: a job of the TransferRunner, or when no job
// runs), with a new time when the key is taken by an object or by
// `reserved` (keys the host is about to upload to); three tries.
BackupSlot FindBackupSlot(IOssManager& manager, const std::string& user, const std::string& backup,
                          const std::string& file_name,
                          const std::function<bool(const std::string&)>& reserved = nullptr);

// What a backup registers (InsertUserInfo) once `file` is stored at
// `slot`: its date and time, path, name and size, and an expiry `expire_days`
// days after `slot.when` (0: never). Text longer than a field is cut to it:
// check the names first (BackupNamesProblem, RecordFitProblem).
_ST_UserInfo MakeRecord(const std::string& user, const std::string& backup, const BackupSlot& slot,
                        const SourceFile& file, long long expire_days);

}  // namespace hostkit

#endif  // HOSTKIT_BACKUPS_H
