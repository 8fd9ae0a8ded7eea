#include "Output.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <memory>

#include "Format.h"
#include "hostkit/Records.h"
#include "hostkit/SafeText.h"

namespace cli {
namespace {

using hostkit::FieldText;
using hostkit::SafeText;

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

std::string JsonText(const cJSON* item) {
    char* text = cJSON_PrintUnformatted(item);
    if (text == nullptr) return "null";
    std::string out(text);
    cJSON_free(text);
    return out;
}

// Integers written in full (cJSON would print large ones as doubles).
void AddInteger(cJSON* object, const char* name, long long value) {
    cJSON_AddRawToObject(object, name, std::to_string(value).c_str());
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

ListingPrinter::ListingPrinter(FILE* out, std::string prefix, bool json, bool human)
    : out_(out), prefix_(std::move(prefix)), json_(json), human_(human) {
    if (!json_) return;
    JsonPtr prefix_text(cJSON_CreateString(prefix_.c_str()));
    std::fprintf(out_, "{\"prefix\":%s,\"entries\":[", JsonText(prefix_text.get()).c_str());
}

void ListingPrinter::Page(const std::vector<hostkit::ListEntry>& entries) {
    // Folders first within the page, as a file browser shows them.
    for (int pass = 0; pass < 2; ++pass) {
        for (const hostkit::ListEntry& e : entries) {
            if (e.folder != (pass == 0)) continue;
            if (json_) {
                JsonPtr item(cJSON_CreateObject());
                cJSON_AddStringToObject(item.get(), "type", e.folder ? "folder" : "file");
                cJSON_AddStringToObject(item.get(), "name", e.name.c_str());
                if (!e.folder) {
                    AddInteger(item.get(), "size", e.size);
                    AddInteger(item.get(), "modified", static_cast<long long>(e.modified));
                    cJSON_AddStringToObject(item.get(), "modified_local",
                                            FormatIsoLocal(e.modified).c_str());
                }
                std::fprintf(out_, "%s%s", entries_ == 0 ? "" : ",", JsonText(item.get()).c_str());
            } else if (e.folder) {
                std::fprintf(out_, "d %s  %s  %s/\n", Pad("-", size_width_, true).c_str(),
                             Pad("-", 16).c_str(), SafeText(e.name).c_str());
            } else {
                const std::string size = SizeText(e.size, human_);
                size_width_ = std::max(size_width_, size.size());
                std::fprintf(out_, "- %s  %s  %s\n", Pad(size, size_width_, true).c_str(),
                             FormatLocalTime(e.modified).c_str(), SafeText(e.name).c_str());
            }
            ++entries_;
        }
    }
    std::fflush(out_);
}

void ListingPrinter::Finish(bool complete) {
    if (json_) std::fprintf(out_, "],\"complete\":%s}\n", complete ? "true" : "false");
    std::fflush(out_);
}

void PrintRecords(FILE* out, const std::vector<_ST_UserInfo>& records, bool human) {
    const char* const headings[] = {"#", "ID", "DATE", "BACKUP", "SIZE", "EXPIRES", "FILE", "PATH"};
    const size_t columns = sizeof headings / sizeof headings[0];
    std::vector<std::vector<std::string>> rows;
    rows.emplace_back(std::begin(headings), std::end(headings));
    for (size_t i = 0; i < records.size(); ++i) {
        const _ST_UserInfo& r = records[i];
        rows.push_back(
            {std::to_string(i + 1), std::to_string(r.nId), SafeText(FieldText(r.szDateTime)),
             SafeText(FieldText(r.szBackupName)), SizeText(r.llFileSize, human),
             r.llExpireTime > 0 ? FormatLocalTime(static_cast<time_t>(r.llExpireTime)) : "never",
             SafeText(FieldText(r.szFileName)), SafeText(FieldText(r.szFilePath))});
    }
    std::vector<size_t> widths(columns, 0);
    for (const auto& row : rows) {
        for (size_t i = 0; i < columns; ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < columns; ++i) {
            // Numbers right-aligned; the last column is not padded.
            const bool number = i == 0 || i == 1 || i == 4;
            line += i + 1 == columns ? row[i] : Pad(row[i], widths[i], number) + "  ";
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
    std::fprintf(out, "%s\n", JsonText(root.get()).c_str());
}

void PrintUsage(FILE* out, const std::string& user, long long size) {
    std::fprintf(out, "%s uses %lld bytes (%s)\n", SafeText(user).c_str(), size,
                 FormatBytes(size).c_str());
}

void PrintUsageJson(FILE* out, const std::string& user, long long size) {
    JsonPtr root(cJSON_CreateObject());
    cJSON_AddStringToObject(root.get(), "user", user.c_str());
    AddInteger(root.get(), "size", size);
    std::fprintf(out, "%s\n", JsonText(root.get()).c_str());
}

}  // namespace cli
