// Where a backup's bytes lie, and the record that names them. Each backup
// has an object key of its own, USER/BACKUP/STAMP/FILE, STAMP made from the
// record's date and time (to the millisecond), so a later backup of the same
// file, or of another file with the same name, never replaces an earlier
// one: look the key up first (FindObject) and take a new time if it is taken.
#ifndef HOSTKIT_BACKUPS_H
#define HOSTKIT_BACKUPS_H

#include <chrono>
#include <string>

#include "Nimbra/Nimbra.h"

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

// What a backup registers (InsertUserInfo) once its bytes are stored. Text
// longer than a field is cut to it: check the names first (Names.h).
struct BackupRecord {
    std::string user, backup, date_time;
    std::string path;       // absolute path of the backed-up file
    std::string file_name;  // its last component
    long long size = 0;
    long long expire_time = 0;  // seconds since the epoch; 0: never
};
_ST_UserInfo MakeRecord(const BackupRecord& backup);

}  // namespace hostkit

#endif  // HOSTKIT_BACKUPS_H
