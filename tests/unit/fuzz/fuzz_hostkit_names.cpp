// Fuzz target: the names a host takes from a server's records. A file name
// FileNameProblem accepts, joined to any folder, is one new component of that
// folder ('/' nowhere, not "." or ".."), and a name it refuses breaks a rule.
// A record's key, its fields of raw bytes, is empty or splits into exactly
// the record's user, backup, stamp and file name, so it never starts with
// '/'. SafeText's output is valid UTF-8 without control characters or
// direction overrides, and its escapes undo to the text.
#include <algorithm>
#include <cwchar>

#include "hostkit/Backups.h"
#include "hostkit/FileTarget.h"
#include "hostkit/Names.h"
#include "hostkit/Records.h"
#include "hostkit/SafeText.h"
#include "tests/unit/UnitSupport.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using namespace hostkit;

namespace {

bool Controls(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

void CheckFileName(const std::string& name, const std::string& folder) {
    const bool plain = !name.empty() && name.size() <= kFileNameMax && name != "." &&
                       name != ".." && name.find('/') == std::string::npos && !Controls(name);
    Check(FileNameProblem(name).empty() == plain);
    if (!plain) return;
    const std::string path = PathInFolder(folder, name);
    const std::string inside = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    Check(path.compare(0, inside.size(), inside) == 0 && path.substr(inside.size()) == name);
}

// A record whose key fields (not the file path) hold raw bytes.
_ST_UserInfo MadeUpRecord(FuzzedDataProvider& fdp) {
    _ST_UserInfo record{};
    std::vector<fuzz::Field> fields = fuzz::RecordFields(record);
    fields.erase(
        std::remove_if(fields.begin(), fields.end(),
                       [](const fuzz::Field& f) { return std::string(f.name) == "file_path"; }),
        fields.end());
    fuzz::FillFields(fdp, fields, 4);
    return record;
}

void CheckKey(const _ST_UserInfo& record) {
    const std::string key = BackupKey(record);
    Check(key.empty() || key[0] != '/');
    const std::vector<std::string> fields = {
        FieldText(record.szName), FieldText(record.szBackupName),
        BackupStamp(FieldText(record.szDateTime)), FieldText(record.szFileName)};
    if (!key.empty()) Check(fuzz::Split(key, '/') == fields);
    bool components = true;  // each field one non-empty component
    for (const std::string& f : fields)
        components = components && fuzz::Split(f, '/') == std::vector{f} && !f.empty();
    Check(key.empty() != components);
}

// A code point from U+0080 to U+FFFF in UTF-8.
std::string Utf8(unsigned long point) {
    if (point < 0x800) return {char(0xC0 | point >> 6), char(0x80 | (point & 0x3F))};
    return {char(0xE0 | point >> 12), char(0x80 | (point >> 6 & 0x3F)),
            char(0x80 | (point & 0x3F))};
}

// Undoes SafeText's escapes: \\, \xNN (a byte), \uNNNN (a code point).
std::string Unescaped(const std::string& shown) {
    std::string text;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            text += shown[i];
        } else if (shown[++i] == '\\') {
            text += '\\';
        } else {
            const size_t digits = shown[i] == 'x' ? 2 : 4;
            const unsigned long point = std::stoul(shown.substr(i + 1, digits), nullptr, 16);
            text += digits == 2 ? std::string(1, static_cast<char>(point)) : Utf8(point);
            i += digits;
        }
    }
    return text;
}

void CheckShown(const std::string& text) {
    const std::string shown = SafeText(text);
    Check(Unescaped(shown) == text);
    std::mbstate_t state{};
    for (size_t at = 0; at < shown.size();) {
        wchar_t c;
        const size_t n = std::mbrtowc(&c, shown.data() + at, shown.size() - at, &state);
        Check(n != 0 && n <= 4);  // neither NUL nor invalid or cut UTF-8
        Check(c >= 0x20 && c != 0x7f && !(c >= 0x80 && c <= 0x9f) &&
              !(c >= 0x202a && c <= 0x202e) && !(c >= 0x2066 && c <= 0x2069));
        at += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const unit::LocaleGuard utf8("C.UTF-8");  // for mbrtowc
    FuzzedDataProvider fdp(data, size);
    const std::string name = fdp.ConsumeRandomLengthString(128);
    const std::string folder = fdp.ConsumeRandomLengthString(64);
    CheckFileName(name, folder);
    CheckShown(name);
    CheckKey(MadeUpRecord(fdp));
    return 0;
}
