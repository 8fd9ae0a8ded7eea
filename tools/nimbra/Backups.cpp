#include "Backups.h"

#include <cstdio>
#include <ctime>

#include "Format.h"
#include "Output.h"

namespace cli {

std::string BackupDateTime(std::chrono::system_clock::time_point when) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(millis / 1000);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis % 1000));
    return FormatLocalTime(seconds, true) + fraction;
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

std::string BackupKey(const std::string& user, const std::string& backup,
                      const std::string& date_time, const std::string& file_name) {
    const std::string stamp = BackupStamp(date_time);
    if (stamp.empty()) return "";
    return user + "/" + backup + "/" + stamp + "/" + file_name;
}

std::string BackupKey(const _ST_UserInfo& record) {
    return BackupKey(FieldText(record.szName), FieldText(record.szBackupName),
                     FieldText(record.szDateTime), FieldText(record.szFileName));
}

const _ST_UserInfo* SelectRecord(const std::vector<_ST_UserInfo>& records, long long id,
                                 long long position) {
    if (id > 0) {
        for (const _ST_UserInfo& record : records) {
            if (record.nId == id) return &record;
        }
        return nullptr;
    }
    if (position < 1 || position > static_cast<long long>(records.size())) return nullptr;
    return &records[static_cast<size_t>(position - 1)];
}

std::string DescribeRecord(const _ST_UserInfo& record) {
    return "backup '" + FieldText(record.szBackupName) + "' of " + FieldText(record.szName) +
           " from " + FieldText(record.szDateTime) + " (record " + std::to_string(record.nId) + ")";
}

}  // namespace cli
