#include "Output.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <memory>

#include "Format.h"

namespace cli {
namespace {

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

void PrintJson(FILE* out, const cJSON* root) {
    char* text = cJSON_PrintUnformatted(root);
    if (text == nullptr) return;
    std::fprintf(out, "%s\n", text);
    cJSON_free(text);
}

// Sizes up to 2^53 are exact in a JSON number.
void AddInteger(cJSON* object, const char* name, long long value) {
    cJSON_AddNumberToObject(object, name, static_cast<double>(value));
}

std::string SizeText(long long size, bool human) {
    return human ? FormatBytes(size) : std::to_string(size);
}

// Pads `text` to `width` bytes, on the left when `right`.
std::string Pad(const std::string& text, size_t width, bool right = false) {
    if (text.size() >= width) return text;
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

}  // namespace

void PrintListing(FILE* out, const std::vector<ListEntry>& entries, bool human) {
    size_t size_width = 1;
    for (const ListEntry& e : entries) {
        if (!e.folder) size_width = std::max(size_width, SizeText(e.size, human).size());
    }
    const std::string no_time(16, ' ');
    for (const ListEntry& e : entries) {
        if (!e.folder) continue;
        std::fprintf(out, "d %s  %s  %s/\n", Pad("-", size_width, true).c_str(),
                     Pad("-", no_time.size()).c_str(), e.name.c_str());
    }
    for (const ListEntry& e : entries) {
        if (e.folder) continue;
        std::fprintf(out, "- %s  %s  %s\n", Pad(SizeText(e.size, human), size_width, true).c_str(),
                     FormatLocalTime(e.modified).c_str(), e.name.c_str());
    }
}

void PrintListingJson(FILE* out, const std::string& prefix, const std::vector<ListEntry>& entries) {
    JsonPtr root(cJSON_CreateObject());
    cJSON_AddStringToObject(root.get(), "prefix", prefix.c_str());
    cJSON* list = cJSON_AddArrayToObject(root.get(), "entries");
    for (int pass = 0; pass < 2; ++pass) {
        for (const ListEntry& e : entries) {
            if (e.folder != (pass == 0)) continue;
            cJSON* item = cJSON_CreateObject();
            cJSON_AddStringToObject(item, "type", e.folder ? "folder" : "file");
            cJSON_AddStringToObject(item, "name", e.name.c_str());
            if (!e.folder) {
                AddInteger(item, "size", e.size);
                AddInteger(item, "modified", static_cast<long long>(e.modified));
                cJSON_AddStringToObject(item, "modified_local", FormatIsoLocal(e.modified).c_str());
            }
            cJSON_AddItemToArray(list, item);
        }
    }
    PrintJson(out, root.get());
}

void PrintRecords(FILE* out, const std::vector<_ST_UserInfo>& records, bool human) {
    const char* const headings[] = {"ID", "DATE", "BACKUP", "SIZE", "EXPIRES", "FILE", "PATH"};
    std::vector<std::vector<std::string>> rows;
    rows.push_back(std::vector<std::string>(std::begin(headings), std::end(headings)));
    for (const _ST_UserInfo& r : records) {
        rows.push_back(
            {std::to_string(r.nId), FieldText(r.szDateTime), FieldText(r.szBackupName),
             SizeText(r.llFileSize, human),
             r.llExpireTime > 0 ? FormatLocalTime(static_cast<time_t>(r.llExpireTime)) : "never",
             FieldText(r.szFileName), FieldText(r.szFilePath)});
    }
    std::vector<size_t> widths(7, 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            const bool last = i + 1 == row.size();
            // Numbers right-aligned; the last column is not padded.
            line += last ? row[i] : Pad(row[i], widths[i], i == 0 || i == 3) + "  ";
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void PrintRecordsJson(FILE* out, const std::string& user,
                      const std::vector<_ST_UserInfo>& records) {
    JsonPtr root(cJSON_CreateObject());
    cJSON_AddStringToObject(root.get(), "user", user.c_str());
    cJSON* list = cJSON_AddArrayToObject(root.get(), "records");
    for (const _ST_UserInfo& r : records) {
        cJSON* item = cJSON_CreateObject();
        AddInteger(item, "id", r.nId);
        cJSON_AddStringToObject(item, "name", FieldText(r.szName).c_str());
        cJSON_AddStringToObject(item, "backup_name", FieldText(r.szBackupName).c_str());
        cJSON_AddStringToObject(item, "date_time", FieldText(r.szDateTime).c_str());
        cJSON_AddStringToObject(item, "file_path", FieldText(r.szFilePath).c_str());
        cJSON_AddStringToObject(item, "file_name", FieldText(r.szFileName).c_str());
        AddInteger(item, "file_size", r.llFileSize);
        AddInteger(item, "expire_time", r.llExpireTime);
        cJSON_AddItemToArray(list, item);
    }
    PrintJson(out, root.get());
}

void PrintUsage(FILE* out, const std::string& user, long long size) {
    std::fprintf(out, "%s uses %lld bytes (%s)\n", user.c_str(), size, FormatBytes(size).c_str());
}

void PrintUsageJson(FILE* out, const std::string& user, long long size) {
    JsonPtr root(cJSON_CreateObject());
    cJSON_AddStringToObject(root.get(), "user", user.c_str());
    AddInteger(root.get(), "size", size);
    PrintJson(out, root.get());
}

}  // namespace cli
