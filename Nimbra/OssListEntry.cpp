#include "Nimbra/OssListEntry.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KestLib/KestLib.h"
#include "Nimbra/FixedField.h"

namespace {

// A date or time field as atoi reads it, less nOffset. A number beyond the
// int range (a broken or hostile listing) is pinned to the range's ends
// instead of wrapping, and the subtraction cannot overflow.
int DateField(const std::string& strField, int nOffset) {
    long long llValue = strtoll(strField.c_str(), nullptr, 10);
    llValue = std::min<long long>(std::max<long long>(llValue, INT_MIN), INT_MAX) - nOffset;
    return static_cast<int>(std::max<long long>(llValue, INT_MIN));
}

}  // namespace

std::string ListRelativeName(const std::string& strPrefix, const std::string& strKey) {
    if (strPrefix.empty() || strKey.compare(0, strPrefix.size(), strPrefix) == 0)
        return strKey.substr(strPrefix.size());
    return strKey;
}

time_t ListLastModifiedTime(const std::string& strLastModified) {
    std::string strText = strLastModified;
    const size_t nDot = strText.rfind('.');
    if (nDot != std::string::npos) strText.erase(nDot);
    std::string strDate = strText;
    std::string strTime = strText;
    const size_t nT = strText.find('T');
    if (nT != std::string::npos) {
        strDate = strText.substr(0, nT);
        strTime = strText.substr(nT + 1);
    }

    struct tm tmTime;
    memset(&tmTime, 0, sizeof tmTime);
    tmTime.tm_isdst = 0;
    std::vector<std::string> vecDate;
    KestLib::StrSplitA(strDate, "-", vecDate);
    if (vecDate.size() == 3) {
        tmTime.tm_year = DateField(vecDate[0], 1900);
        tmTime.tm_mon = DateField(vecDate[1], 1);
        tmTime.tm_mday = DateField(vecDate[2], 0);
    }
    std::vector<std::string> vecTime;
    KestLib::StrSplitA(strTime, ":", vecTime);
    if (vecTime.size() == 3) {
        tmTime.tm_hour = DateField(vecTime[0], 0);
        tmTime.tm_min = DateField(vecTime[1], 0);
        tmTime.tm_sec = DateField(vecTime[2], 0);
    }
    return mktime(&tmTime);
}

_ST_RemotePathInfo ListFileEntry(const std::string& strPrefix, const std::string& strKey,
                                 const std::string& strSize, const std::string& strLastModified) {
    _ST_RemotePathInfo info;
    memset(&info, 0, sizeof info);
    info.bIsDir = false;
    // atoll's reading ("12abc" is 12, "abc" 0), through strtoll so that a
    // number beyond the range is pinned to it rather than undefined.
    info.llFileSize = strtoll(strSize.c_str(), nullptr, 10);
    CopyToField(info.szPathName, sizeof info.szPathName,
                ListRelativeName(strPrefix, strKey).c_str());
    info.tLastModified = ListLastModifiedTime(strLastModified);
    return info;
}

bool ListFolderEntry(const std::string& strPrefix, const std::string& strCommonPrefix,
                     _ST_RemotePathInfo& info) {
    std::string strName = ListRelativeName(strPrefix, strCommonPrefix);
    if (strName.size() < 2) return false;
    strName.pop_back();
    memset(&info, 0, sizeof info);
    info.bIsDir = true;
    CopyToField(info.szPathName, sizeof info.szPathName, strName.c_str());
    return true;
}
