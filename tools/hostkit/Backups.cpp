#include "hostkit/Backups.h"

#include <cstring>
#include <thread>

#include "Nimbra/FixedField.h"
#include "hostkit/Format.h"
#include "hostkit/Listing.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"

namespace hostkit {
namespace {

// Tries for a key that no object has yet (two backups in one millisecond).
constexpr int kKeyAttempts = 3;

}  // namespace

std::string BackupDateTime(std::chrono::system_clock::time_point when) {
    return FormatLocalMillis(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count());
}

std::string BackupStamp(const std::string& date_time) {
    std::string stamp;
    for (char c : date_time) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            c == '.') {
            stamp += c;
        } else if (c == ' ') {
            stamp += 'T';
        }
    }
    return stamp;
}

namespace {

// A name that is one component of a key: not empty, no '/'.
bool OneComponent(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos;
}

}  // namespace

std::string BackupKey(const std::string& user, const std::string& backup,
                      const std::string& date_time, const std::string& file_name) {
    const std::string stamp = BackupStamp(date_time);
    // A record from a server may hold anything: an empty user would start
    // the key with '/', a '/' in a name would shift the key's components (two
    // records could name one object).
    if (stamp.empty() || !OneComponent(user) || !OneComponent(backup) || !OneComponent(file_name))
        return "";
    return user + "/" + backup + "/" + stamp + "/" + file_name;
}

std::string BackupKey(const _ST_UserInfo& record) {
    return BackupKey(FieldText(record.szName), FieldText(record.szBackupName),
                     FieldText(record.szDateTime), FieldText(record.szFileName));
}

std::string RestoreProblem(const _ST_UserInfo& record, std::string& key) {
    const std::string what = DescribeRecord(record);
    const std::string name = FieldText(record.szFileName);
    const std::string fault = FileNameProblem(name);
    if (!fault.empty())
        return "the " + what + " has the file name '" + name +
               "', which is not a plain file name: " + fault;
    key = BackupKey(record);
    if (!KeyProblem(key).empty()) return "the " + what + " names no object it could be stored at";
    return "";
}

std::string BackupNamesProblem(const std::string& user, const std::string& backup) {
    const std::string problem = NameProblem("user name", user, kUserNameMax);
    return problem.empty() ? NameProblem("backup name", backup, kBackupNameMax) : problem;
}

std::string RecordFitProblem(const SourceFile& file) {
    if (file.absolute.size() > kRecordPathMax)
        return "the path " + file.absolute + " is longer than " + std::to_string(kRecordPathMax) +
               " bytes, too long for the record";
    if (file.name.size() > kFileNameMax)
        return "the file name " + file.name + " is longer than " + std::to_string(kFileNameMax) +
               " bytes, too long for the record";
    return "";
}

namespace {

// Seconds since the epoch `days` days after `when`; 0 (never) when `days` is 0.
long long ExpiryTime(std::chrono::system_clock::time_point when, long long days) {
    if (days <= 0) return 0;
    return static_cast<long long>(std::chrono::system_clock::to_time_t(when)) + days * 86400LL;
}

}  // namespace

_ST_UserInfo MakeRecord(const std::string& user, const std::string& backup, const BackupSlot& slot,
                        const SourceFile& file, long long expire_days) {
    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    CopyToField(info.szName, sizeof info.szName, user.c_str());
    CopyToField(info.szBackupName, sizeof info.szBackupName, backup.c_str());
    CopyToField(info.szDateTime, sizeof info.szDateTime, slot.date_time.c_str());
    CopyToField(info.szFilePath, sizeof info.szFilePath, file.absolute.c_str());
    CopyToField(info.szFileName, sizeof info.szFileName, file.name.c_str());
    info.llFileSize = file.size;
    info.llExpireTime = ExpiryTime(slot.when, expire_days);
    return info;
}

BackupSlot FindBackupSlot(IOssManager& manager, const std::string& user, const std::string& backup,
                          const std::string& file_name,
                          const std::function<bool(const std::string&)>& reserved) {
    BackupSlot slot;
    for (int attempt = 1; attempt <= kKeyAttempts; ++attempt) {
        if (attempt > 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        slot.when = std::chrono::system_clock::now();
        slot.date_time = BackupDateTime(slot.when);
        slot.key = BackupKey(user, backup, slot.date_time, file_name);
        slot.problem = KeyProblem(slot.key);
        if (!slot.problem.empty()) {
            slot.state = BackupSlot::State::kBadKey;
            return slot;
        }
        if (reserved && reserved(slot.key)) continue;
        const ObjectLookup lookup = FindObject(manager, slot.key);
        if (lookup.state == ObjectLookup::State::kFailed) {
            slot.state = BackupSlot::State::kFailed;
            slot.result = lookup.result;
            return slot;
        }
        if (lookup.state == ObjectLookup::State::kMissing) {
            slot.state = BackupSlot::State::kFree;
            return slot;
        }
    }
    slot.state = BackupSlot::State::kTaken;
    return slot;
}

}  // namespace hostkit
