// Fuzz target: a listed object or common prefix as a listing entry. The
// relative name follows the prefix rule; entries start zeroed, their names
// NUL-terminated within the field and cut only when too long; folders exist
// exactly for relative names of two characters or more; dates follow the
// rule below, numbers of any size held within int.
#include <climits>
#include <ctime>

#include "Nimbra/OssListEntry.h"
#include "tests/unit/fuzz/FuzzHarness.h"

namespace {

const size_t kNameWidth = sizeof(_ST_RemotePathInfo::szPathName);

// Three fields of `text` split at `delimiter` (a trailing one ends no
// field), each as atoi reads it but held within int, less `offsets`.
void ThreeFields(const std::string& text, char delimiter, const int (&offsets)[3],
                 int* const (&out)[3]) {
    std::vector<std::string> pieces = fuzz::Split(text, delimiter);
    if (pieces.size() > 1 && pieces.back().empty()) pieces.pop_back();
    if (pieces.size() != 3) return;
    for (int i = 0; i < 3; ++i) {
        const long long value = std::strtoll(pieces[i].c_str(), nullptr, 10);
        *out[i] = static_cast<int>(std::max<long long>(
            std::min<long long>(std::max<long long>(value, INT_MIN), INT_MAX) - offsets[i],
            INT_MIN));
    }
}

// Cut at the last '.'; the date before the first 'T', the time after it
// (each the whole text without 'T'); mktime of the fields as standard time.
time_t ReferenceTime(std::string text) {
    text = text.substr(0, text.rfind('.'));
    const size_t t = text.find('T');
    const std::string date = t == std::string::npos ? text : text.substr(0, t);
    const std::string time = t == std::string::npos ? text : text.substr(t + 1);
    struct tm fields = {};
    ThreeFields(date, '-', {1900, 1, 0}, {&fields.tm_year, &fields.tm_mon, &fields.tm_mday});
    ThreeFields(time, ':', {0, 0, 0}, {&fields.tm_hour, &fields.tm_min, &fields.tm_sec});
    return mktime(&fields);
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
    Check(file.tLastModified == ReferenceTime(modified) &&
          ListLastModifiedTime(modified) == file.tLastModified);

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
    return 0;
}
