// Fuzz target: the web API answers as the manager reads them (credentials,
// used space, record pages) and the record body it sends. The readers agree
// with cJSON on what is JSON and which members count, and fill records whose
// text fields stay NUL-terminated within their width; the body holds exactly
// the record's members, its numbers exact below 10^15.
#include <cjson/cJSON.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>

#include "Nimbra/WebApiJson.h"
#include "tests/unit/fuzz/FuzzHarness.h"

namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

// The first or last top-level member named exactly `name`, or null.
const cJSON* Member(const cJSON* doc, const char* name, bool last) {
    const cJSON* found = nullptr;
    for (const cJSON* m = cJSON_IsObject(doc) ? doc->child : nullptr; m; m = m->next) {
        if (m->string && std::strcmp(m->string, name) == 0) {
            found = m;
            if (!last) break;
        }
    }
    return found;
}

std::string StringValue(const cJSON* item) {
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

// A JSON number as the records hold it: truncated, held at the ends of the
// 64-bit range; 0 for anything else.
long long Integral(const cJSON* item) {
    const double value = cJSON_IsNumber(item) ? std::trunc(item->valuedouble) : 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<long long>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<long long>::min();
    return static_cast<long long>(value);
}

void CheckAnswers(const std::string& text) {
    Json doc(cJSON_Parse(text.c_str()), cJSON_Delete);
    const char* names[] = {"AccessKeyId", "AccessKeySecret", "SecurityToken"};
    std::string got[] = {names[0], names[1], names[2]};  // kept when absent
    Check(ParseStsKeyJson(text, got[0], got[1], got[2]) == (doc != nullptr));
    for (int i = 0; i < 3; ++i) {
        const cJSON* last = Member(doc.get(), names[i], true);  // the last one counts
        Check(got[i] == (last ? StringValue(last) : names[i]));
    }

    long long size = 12345;
    Check(ParseUsedSizeJson(text, size) == (doc != nullptr));
    Check(size == Integral(Member(doc.get(), "size", false)));  // the first one counts

    long long total = -7;
    std::vector<_ST_UserInfo> records;
    const bool ok =
        ParseUserPageJson(text, total, [&](const _ST_UserInfo& info) { records.push_back(info); });
    Check(ok == (doc != nullptr));
    const cJSON* total_item = Member(doc.get(), "total", true);  // the last one counts
    Check(total == (total_item ? Integral(total_item) : -7));
    // The records: the object elements with an "id" of the last "data" array.
    std::vector<const cJSON*> elements;
    const cJSON* data = Member(doc.get(), "data", true);
    for (const cJSON* e = cJSON_IsArray(data) ? data->child : nullptr; e; e = e->next)
        if (cJSON_IsObject(e) && cJSON_GetObjectItem(e, "id")) elements.push_back(e);
    Check(records.size() == elements.size());
    for (size_t i = 0; i < records.size(); ++i) {
        for (const fuzz::Field& f : fuzz::RecordFields(records[i]))
            fuzz::CheckFieldCopy(fuzz::FieldText(f.text, f.width),
                                 StringValue(cJSON_GetObjectItem(elements[i], f.name)), f.width);
        const long long id = Integral(cJSON_GetObjectItem(elements[i], "id"));
        Check(records[i].nId == std::min<long long>(std::max<long long>(id, INT_MIN), INT_MAX));
        Check(records[i].llFileSize == Integral(cJSON_GetObjectItem(elements[i], "file_size")));
        Check(records[i].llExpireTime == Integral(cJSON_GetObjectItem(elements[i], "expire_time")));
    }
}

// A record of raw bytes as the "/uploadUserInfo" body.
void CheckRecordBody(FuzzedDataProvider& fdp) {
    _ST_UserInfo sent{};
    const std::vector<fuzz::Field> fields = fuzz::RecordFields(sent);
    fuzz::FillFields(fdp, fields, 8);
    // The numbers travel as doubles: exact below 10^15, close up to 2^63.
    const long long exact = 999999999999999LL;
    const long long max = fdp.ConsumeBool() ? std::numeric_limits<long long>::max() : exact;
    sent.llFileSize = fdp.ConsumeIntegralInRange<long long>(-max, max);
    sent.llExpireTime = fdp.ConsumeIntegralInRange<long long>(-max, max);

    // The body: the five text fields as strings, read to their width at
    // most, and the two numbers, under their exact names and nothing else.
    Json record(cJSON_Parse(BuildUserInfoJson(sent).c_str()), cJSON_Delete);
    Check(cJSON_IsObject(record.get()) && cJSON_GetArraySize(record.get()) == 7);
    for (const fuzz::Field& f : fields) {
        const cJSON* member = Member(record.get(), f.name, false);
        Check(cJSON_IsString(member) &&
              StringValue(member) == std::string(f.text, strnlen(f.text, f.width)));
    }
    for (const auto& n : {std::make_pair("file_size", sent.llFileSize),
                          std::make_pair("expire_time", sent.llExpireTime)}) {
        const cJSON* member = Member(record.get(), n.first, false);
        Check(cJSON_IsNumber(member));
        const long double diff = member->valuedouble - static_cast<long double>(n.second);
        const bool exact_range = n.second >= -exact && n.second <= exact;
        Check(std::fabs(diff) <= (exact_range ? 0 : std::fabs(member->valuedouble) * 1e-15L));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckAnswers(fuzz::Text(data, size));
    FuzzedDataProvider fdp(data, size);
    CheckRecordBody(fdp);
    return 0;
}
