// Backup records as the web API keeps them (_ST_UserInfo): reading a user's
// records, choosing one, and the text of their fixed-size fields.
#ifndef HOSTKIT_RECORDS_H
#define HOSTKIT_RECORDS_H

#include <cstring>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace hostkit {

// A record's text field up to its terminator, never past the field.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Copies each record GetUserUploadInfo delivers (the library's copy lives
// only during the notification).
class RecordCollector final : public IOssCallback {
public:
    void OnProgress(int nResult, int nPercent, void* pData) override;
    const std::vector<_ST_UserInfo>& records() const { return records_; }

private:
    std::vector<_ST_UserInfo> records_;
};

// Every record of `user` (as typed: it is percent-encoded for the query), in
// the web API's order, newest first. False when the web API could not be
// read; the library's log says why.
bool ReadRecords(IOssManager& manager, const std::string& user, std::vector<_ST_UserInfo>& records);

// The record with id `id` (when `id` > 0), or else at `position` (from 1, in
// the order ReadRecords gives); null when there is none.
const _ST_UserInfo* SelectRecord(const std::vector<_ST_UserInfo>& records, long long id,
                                 long long position);

// "backup 'weekly' of dora from 2024-12-05 15:40:02.123 (record 17)", as
// the record has it (show it through SafeText).
std::string DescribeRecord(const _ST_UserInfo& record);

}  // namespace hostkit

#endif  // HOSTKIT_RECORDS_H
