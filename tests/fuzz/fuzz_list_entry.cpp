// Fuzz target: turning a listed object or common prefix into a listing
// entry (relative name, size, last-modified time). Checks, for every input:
// the relative name follows the prefix rule; entries start zeroed and keep
// their name NUL-terminated within the field, cut only when it does not
// fit; folder entries exist exactly for relative names of two characters or
// more; and a well-formed timestamp converts as mktime converts its fields.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Nimbra/OssListEntry.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The name field: terminated within its width, zero after the terminator.
std::string Name(const _ST_RemotePathInfo& info) {
    const size_t width = sizeof info.szPathName;
    const void* nul = std::memchr(info.szPathName, '\0', width);
    Check(nul != nullptr);
    const size_t len = static_cast<const char*>(nul) - info.szPathName;
    for (size_t i = len; i < width; ++i) Check(info.szPathName[i] == '\0');
    return std::string(info.szPathName, len);
}

// The field holds the whole text when it fits (up to an embedded NUL),
// otherwise a prefix of it.
void CheckName(const std::string& got, const std::string& text) {
    const std::string visible = text.substr(0, text.find('\0'));
    if (visible.size() < sizeof(_ST_RemotePathInfo::szPathName)) {
        Check(got == visible);
    } else {
        Check(visible.compare(0, got.size(), got) == 0);
    }
}

void CheckTimestamp(FuzzedDataProvider& fdp) {
    struct tm fields;
    std::memset(&fields, 0, sizeof fields);
    const int year = fdp.ConsumeIntegralInRange<int>(1971, 2200);
    fields.tm_year = year - 1900;
    fields.tm_mon = fdp.ConsumeIntegralInRange<int>(0, 11);
    fields.tm_mday = fdp.ConsumeIntegralInRange<int>(1, 28);
    fields.tm_hour = fdp.ConsumeIntegralInRange<int>(0, 23);
    fields.tm_min = fdp.ConsumeIntegralInRange<int>(0, 59);
    fields.tm_sec = fdp.ConsumeIntegralInRange<int>(0, 59);
    const int millis = fdp.ConsumeIntegralInRange<int>(0, 999);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec, millis);
    fields.tm_isdst = 0;
    Check(ListLastModifiedTime(text) == mktime(&fields));
}

// Timestamps whose fields are any 64-bit decimal numbers, as a hostile or
// broken store might send: the conversion must stay defined (no overflow).
void CheckNumericTimestamp(FuzzedDataProvider& fdp) {
    // Each field anywhere in 64 bits, or just past the end of the int range,
    // where a conversion through int wraps to its lowest values.
    long long f[6];
    for (long long& v : f) {
        v = fdp.ConsumeBool() ? fdp.ConsumeIntegral<long long>()
                              : 2147483647LL + fdp.ConsumeIntegralInRange<long long>(-4000, 4000);
    }
    char text[160];
    std::snprintf(text, sizeof text, "%lld-%lld-%lldT%lld:%lld:%lld.000Z", f[0], f[1], f[2], f[3],
                  f[4], f[5]);
    const time_t converted = ListLastModifiedTime(text);
    // Fields that fit the calendar structure convert as mktime converts them.
    bool in_range = true;
    for (long long v : f) in_range = in_range && v >= 0 && v <= 100000;
    if (in_range) {
        struct tm fields;
        std::memset(&fields, 0, sizeof fields);
        fields.tm_year = static_cast<int>(f[0]) - 1900;
        fields.tm_mon = static_cast<int>(f[1]) - 1;
        fields.tm_mday = static_cast<int>(f[2]);
        fields.tm_hour = static_cast<int>(f[3]);
        fields.tm_min = static_cast<int>(f[4]);
        fields.tm_sec = static_cast<int>(f[5]);
        Check(converted == mktime(&fields));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string prefix = fdp.ConsumeRandomLengthString(300);
    const std::string key = fdp.ConsumeRandomLengthString(600);
    const std::string size_text = fdp.ConsumeRandomLengthString(40);
    const std::string modified = fdp.ConsumeRandomLengthString(80);

    const std::string relative = ListRelativeName(prefix, key);
    if (prefix.empty() || key.compare(0, prefix.size(), prefix) == 0) {
        Check(relative == key.substr(prefix.size()));
    } else {
        Check(relative == key);
    }

    const _ST_RemotePathInfo file = ListFileEntry(prefix, key, size_text, modified);
    Check(!file.bIsDir);
    CheckName(Name(file), relative);
    Check(file.llFileSize == std::atoll(size_text.c_str()));
    Check(file.tLastModified == ListLastModifiedTime(modified));

    _ST_RemotePathInfo folder;
    unsigned char before[sizeof folder];
    std::memset(before, 0x5a, sizeof before);
    std::memcpy(&folder, before, sizeof folder);
    if (ListFolderEntry(prefix, key, folder)) {
        Check(relative.size() >= 2);
        Check(folder.bIsDir && folder.llFileSize == 0 && folder.tLastModified == 0);
        CheckName(Name(folder), relative.substr(0, relative.size() - 1));
    } else {
        Check(relative.size() < 2);
        Check(std::memcmp(&folder, before, sizeof folder) == 0);  // left untouched
    }

    CheckTimestamp(fdp);
    CheckNumericTimestamp(fdp);
    return 0;
}
