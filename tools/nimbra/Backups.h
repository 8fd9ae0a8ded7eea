// Where a backup's bytes lie. Each backup has a key of its own that its
// record names: USER/BACKUP/STAMP/FILE, STAMP made from the record's date
// and time (to the millisecond), so a later backup of the same file, or of
// another file with the same name, never replaces an earlier one.
#ifndef NIMBRA_CLI_BACKUPS_H
#define NIMBRA_CLI_BACKUPS_H

#include <chrono>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace cli {

// The record's date and time: local time to the millisecond,
// "2024-12-05 15:40:02.123".
std::string BackupDateTime(std::chrono::system_clock::time_point when);

// The key component made from a record's date and time: its ASCII letters,
// digits and dots, a space becoming 'T' ("20241205T154002.123"); "" when
// nothing is left.
std::string BackupStamp(const std::string& date_time);

// The object key of a backup, or "" when its date and time give no stamp.
std::string BackupKey(const std::string& user, const std::string& backup,
                      const std::string& date_time, const std::string& file_name);
std::string BackupKey(const _ST_UserInfo& record);

// The record with id `id` (when `id` > 0), or else at `position` (from 1,
// as `nimbra records` numbers them); null when there is none.
const _ST_UserInfo* SelectRecord(const std::vector<_ST_UserInfo>& records, long long id,
                                 long long position);

// "backup 'weekly' of dora from 2024-12-05 15:40:02.123 (record 17)", as
// the record has it (print it through SafeText).
std::string DescribeRecord(const _ST_UserInfo& record);

}  // namespace cli

#endif  // NIMBRA_CLI_BACKUPS_H
