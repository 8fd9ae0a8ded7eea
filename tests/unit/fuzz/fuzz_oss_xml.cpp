// Fuzz target: the store's XML answers (listing, multipart initiation and
// completion, part listing, error) and the completion body. A parser succeeds
// with well-formed values (NUL-terminated at their length, names non-empty,
// part numbers and part sizes decimal, a truncated page carrying its marker)
// or fails leaving its outputs untouched, however the body is split into
// buffers; the completion body carries exactly its parts, and invalid parts
// are refused.
#include <mxml.h>

#include <algorithm>
#include <utility>

#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_xml.h"
#include "tests/unit/StoreBody.h"
#include "tests/unit/fuzz/FuzzHarness.h"

namespace {

using Strings = std::vector<std::string>;
using Parts = std::vector<std::pair<std::string, std::string>>;  // number, ETag
const char kUntouched[] = "untouched";

// A string the layer handed out: present and NUL-terminated at its length.
std::string Text(const aos_string_t& s) {
    Check(s.data != nullptr && s.len >= 0 && std::strlen(s.data) == static_cast<size_t>(s.len));
    return std::string(s.data, static_cast<size_t>(s.len));
}

// A decimal part number of at most 10000 and at least `lowest`, leading
// zeros allowed.
bool PartNumber(const std::string& number, int lowest) {
    const std::string value = number.substr(std::min(number.find_first_not_of('0'), number.size()));
    return fuzz::IsDecimal(number) && value.size() <= 5 && std::atoi(value.c_str()) >= lowest &&
           std::atoi(value.c_str()) <= OSS_MAX_PART_NUM;
}

// A page's flag and marker, or "error" with the outputs left untouched.
Strings PageHead(int rc, bool empty, const aos_string_t& marker, int truncated) {
    Check(rc == AOSE_OK || rc == AOSE_XML_PARSE_ERROR);
    if (rc != AOSE_OK) {
        Check(empty && marker.data == kUntouched && truncated == -7);
        return {"error"};
    }
    Check(truncated == 0 || truncated == 1);
    Strings out = {std::to_string(truncated), Text(marker)};
    if (truncated == 1) Check(!out[1].empty());  // a truncated page says where to go on
    return out;
}

// The result of one parse, flattened: flag, marker, then the items.
Strings ParseListing(const std::string& text, size_t piece) {
    unit::StorePool pool;
    aos_list_t objects, prefixes;
    aos_list_init(&objects);
    aos_list_init(&prefixes);
    aos_string_t marker;
    aos_str_set(&marker, kUntouched);
    int truncated = -7;
    const int rc = oss_list_objects_parse_from_body(pool.get(), pool.Body(text, piece), &objects,
                                                    &prefixes, &marker, &truncated);
    Strings out =
        PageHead(rc, aos_list_empty(&objects) && aos_list_empty(&prefixes), marker, truncated);
    if (rc != AOSE_OK) return out;
    oss_list_object_content_t* o;
    aos_list_for_each_entry(oss_list_object_content_t, o, &objects, node) {
        const std::string key = Text(o->key), size = Text(o->size);
        Check(!key.empty() && fuzz::Trimmed(size));  // a listing's size is any text
        for (const std::string& s :
             {key, size, Text(o->last_modified), Text(o->etag), Text(o->storage_class)})
            out.push_back(s);
    }
    oss_list_object_common_prefix_t* c;
    aos_list_for_each_entry(oss_list_object_common_prefix_t, c, &prefixes, node) {
        out.push_back("prefix " + Text(c->prefix));
        Check(out.back().size() > 7);
    }
    return out;
}

// The part numbers and ETags of a completion body, read back.
Parts ReadCompletion(aos_pool_t* pool, const aos_list_t* part_list) {
    aos_list_t body;
    aos_list_init(&body);
    Check(oss_build_complete_multipart_upload_body(pool, part_list, &body) == AOSE_OK);
    mxml_node_t* top = mxmlLoadString(nullptr, unit::BodyText(&body).c_str(), MXML_OPAQUE_CALLBACK);
    Check(top != nullptr);
    mxml_node_t* root =
        mxmlFindElement(top, top, "CompleteMultipartUpload", nullptr, nullptr, MXML_DESCEND);
    Check(root != nullptr);
    const auto text = [](mxml_node_t* part, const char* name) {
        mxml_node_t* el = mxmlFindElement(part, part, name, nullptr, nullptr, MXML_DESCEND_FIRST);
        Check(el != nullptr);
        std::string s;
        for (mxml_node_t* n = mxmlGetFirstChild(el); n; n = mxmlGetNextSibling(n))
            if (mxmlGetType(n) == MXML_OPAQUE) s += mxmlGetOpaque(n);
        return s;
    };
    Parts got;
    for (mxml_node_t* part =
             mxmlFindElement(root, root, "Part", nullptr, nullptr, MXML_DESCEND_FIRST);
         part; part = mxmlFindElement(part, root, "Part", nullptr, nullptr, MXML_NO_DESCEND))
        got.emplace_back(text(part, "PartNumber"), text(part, "ETag"));
    mxmlDelete(top);
    return got;
}

Strings ParseParts(const std::string& text, size_t piece, bool complete) {
    unit::StorePool pool;
    aos_list_t parts, completion;
    aos_list_init(&parts);
    aos_list_init(&completion);
    aos_string_t next;
    aos_str_set(&next, kUntouched);
    int truncated = -7;
    const int rc = oss_list_parts_parse_from_body(pool.get(), pool.Body(text, piece), &parts, &next,
                                                  &truncated);
    Strings out = PageHead(rc, aos_list_empty(&parts), next, truncated);
    if (rc != AOSE_OK) return out;
    Parts listed;
    oss_list_part_content_t* part;
    aos_list_for_each_entry(oss_list_part_content_t, part, &parts, node) {
        const std::string number = Text(part->part_number), etag = Text(part->etag);
        Check(PartNumber(number, 1) && !etag.empty() && fuzz::Trimmed(etag));
        Check(Text(part->size).empty() || fuzz::IsDecimal(Text(part->size)));
        Text(part->last_modified);
        out.push_back(number + " " + etag);
        listed.emplace_back(number, etag);
        // The upload completes from the listing exactly as MultiUploadFile does.
        oss_complete_part_content_t* entry = oss_create_complete_part_content(pool.get());
        entry->part_number = part->part_number;
        entry->etag = part->etag;
        aos_list_add_tail(&entry->node, &completion);
    }
    if (complete) Check(ReadCompletion(pool.get(), &completion) == listed);
    return out;
}

// The upload id, and whether the same text is a completion result.
Strings ParseUploadId(const std::string& text, size_t piece) {
    unit::StorePool pool;
    aos_string_t id;
    aos_str_set(&id, kUntouched);
    const int rc = oss_upload_id_parse_from_body(pool.get(), pool.Body(text, piece), &id);
    const int completed = oss_complete_result_parse_from_body(pool.get(), pool.Body(text, piece));
    Check((rc == AOSE_OK || rc == AOSE_XML_PARSE_ERROR) &&
          (completed == AOSE_OK || completed == AOSE_XML_PARSE_ERROR));
    if (rc != AOSE_OK) Check(id.data == kUntouched);
    if (rc == AOSE_OK) Check(!Text(id).empty() && fuzz::Trimmed(Text(id)));
    return {rc == AOSE_OK ? Text(id) : "error", std::to_string(completed)};
}

Strings ParseError(const std::string& text, size_t piece) {
    unit::StorePool pool;
    aos_status_t* s = aos_status_create(pool.get());
    char code[] = "code", msg[] = "msg", req[] = "req";
    s->code = 500;
    s->error_code = code;
    s->error_msg = msg;
    s->req_id = req;
    const int rc = oss_error_parse_from_body(pool.get(), pool.Body(text, piece), s);
    Check(rc == AOSE_OK || rc == AOSE_XML_PARSE_ERROR);
    Check(s->code == 500 && s->error_code && s->error_msg && s->req_id &&
          fuzz::Trimmed(s->error_code));
    if (rc != AOSE_OK) Check(s->error_code == code && s->error_msg == msg && s->req_id == req);
    return {std::to_string(rc), s->error_code, s->error_msg, s->req_id};
}

// A completion list made up from the input: accepted exactly when every
// entry has a decimal part number of at most 10000 (leading zeros allowed)
// and a non-empty ETag, and then the body carries them unchanged.
void CheckBuiltCompletion(FuzzedDataProvider& fdp) {
    unit::StorePool pool;
    aos_list_t completion;
    aos_list_init(&completion);
    Parts entries;
    bool valid = true;
    for (int i = fdp.ConsumeIntegralInRange<int>(0, 8); i > 0; --i) {
        std::string number = fdp.ConsumeBool()
                                 ? std::to_string(fdp.ConsumeIntegralInRange<int>(0, 10001))
                                 : fdp.ConsumeRandomLengthString(6);
        number = number.substr(0, number.find('\0'));
        const std::string etag = fuzz::Printable(fdp.ConsumeRandomLengthString(40));
        valid = valid && PartNumber(number, 0) && !etag.empty();
        oss_complete_part_content_t* entry = oss_create_complete_part_content(pool.get());
        aos_str_pset(pool.get(), &entry->part_number, number.data(), number.size());
        aos_str_pset(pool.get(), &entry->etag, etag.data(), etag.size());
        aos_list_add_tail(&entry->node, &completion);
        entries.emplace_back(number, etag);
    }
    if (valid) {
        Check(ReadCompletion(pool.get(), &completion) == entries);
        return;
    }
    aos_list_t body;
    aos_list_init(&body);
    Check(oss_build_complete_multipart_upload_body(pool.get(), &completion, &body) ==
          AOSE_INVALID_ARGUMENT);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::string text = fuzz::Text(data + 2, size - 2);
    switch (data[1] % 5) {
        case 0:
            Check(ParseListing(text, 0) == ParseListing(text, piece));
            break;
        case 1:
            Check(ParseParts(text, 0, true) == ParseParts(text, piece, false));
            break;
        case 2:
            Check(ParseUploadId(text, 0) == ParseUploadId(text, piece));
            break;
        case 3:
            Check(ParseError(text, 0) == ParseError(text, piece));
            break;
        default: {
            FuzzedDataProvider fdp(data + 2, size - 2);
            CheckBuiltCompletion(fdp);
        }
    }
    return 0;
}
