// Fuzz target: a listed object or common prefix turned into a listing entry.
// Checks, for every input: the relative name follows the prefix rule;
// entries start zeroed and keep their name NUL-terminated within the field,
// cut only when it does not fit; folder entries exist exactly for relative
// names of two characters or more; and a timestamp converts as mktime
// converts its fields, without overflow for any 64-bit field.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <ctime>

#include "Nimbra/OssListEntry.h"
#include "tests/unit/fuzz/FuzzHarness.h"

namespace {

const size_t kNameWidth = sizeof(_ST_RemotePathInfo::szPathName);

// Six calendar fields written as "Y-M-DTh:m:s.mmmZ": when each lies in
// 0..100000 the conversion equals mktime of the fields read as local
// standard time; beyond that it must merely stay defined.
void CheckTimestamp(FuzzedDataProvider& fdp) {
    long long f[6];
    for (long long& v : f) {
        switch (fdp.ConsumeIntegralInRange<int>(0, 2)) {
            case 0:
                v = fdp.ConsumeIntegralInRange<long long>(0, 2200);
                break;
            case 1:  // just past the int range, where a conversion through int wraps
                v = 2147483647LL + fdp.ConsumeIntegralInRange<long long>(-4000, 4000);
                break;
            default:
                v = fdp.ConsumeIntegral<long long>();
        }
    }
    char text[160];
    std::snprintf(text, sizeof text, "%lld-%lld-%lldT%lld:%lld:%lld.%03dZ", f[0], f[1], f[2], f[3],
                  f[4], f[5], fdp.ConsumeIntegralInRange<int>(0, 999));
    const time_t converted = ListLastModifiedTime(text);
    for (long long v : f)
        if (v < 0 || v > 100000) return;
    struct tm fields = {};
    fields.tm_year = static_cast<int>(f[0]) - 1900;
    fields.tm_mon = static_cast<int>(f[1]) - 1;
    fields.tm_mday = static_cast<int>(f[2]);
    fields.tm_hour = static_cast<int>(f[3]);
    fields.tm_min = static_cast<int>(f[4]);
    fields.tm_sec = static_cast<int>(f[5]);
    Check(converted == mktime(&fields));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string prefix = fdp.ConsumeRandomLengthString(300);
    const std::string key = fdp.ConsumeRandomLengthString(600);
    const std::string size_text = fdp.ConsumeRandomLengthString(40);
    const std::string modified = fdp.ConsumeRandomLengthString(80);

    const std::string relative = ListRelativeName(prefix, key);
    const bool strip = prefix.empty() || key.compare(0, prefix.size(), prefix) == 0;
    Check(relative == (strip ? key.substr(prefix.size()) : key));

    const _ST_RemotePathInfo file = ListFileEntry(prefix, key, size_text, modified);
    Check(!file.bIsDir);
    fuzz::CheckFieldCopy(fuzz::FieldText(file.szPathName, kNameWidth), relative, kNameWidth);
    Check(file.llFileSize == std::atoll(size_text.c_str()));
    Check(file.tLastModified == ListLastModifiedTime(modified));

    _ST_RemotePathInfo folder, before;
    std::memset(&before, 0x5a, sizeof before);
    std::memcpy(&folder, &before, sizeof folder);
    if (ListFolderEntry(prefix, key, folder)) {
        Check(relative.size() >= 2);
        Check(folder.bIsDir && folder.llFileSize == 0 && folder.tLastModified == 0);
        fuzz::CheckFieldCopy(fuzz::FieldText(folder.szPathName, kNameWidth),
                             relative.substr(0, relative.size() - 1), kNameWidth);
    } else {
        Check(relative.size() < 2);
        Check(std::memcmp(&folder, &before, sizeof folder) == 0);  // left untouched
    }
    CheckTimestamp(fdp);
    return 0;
}
