#include "hostkit/Records.h"

#include "hostkit/Names.h"

namespace hostkit {

void RecordCollector::OnProgress(int, int, void* pData) {
    if (pData != nullptr) records_.push_back(*static_cast<const _ST_UserInfo*>(pData));
}

bool ReadRecords(IOssManager& manager, const std::string& user,
                 std::vector<_ST_UserInfo>& records) {
    RecordCollector collector;
    if (!manager.GetUserUploadInfo(QueryEscape(user).c_str(), &collector)) return false;
    records = collector.records();
    return true;
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

}  // namespace hostkit
