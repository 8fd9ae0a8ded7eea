// Fuzz target: the store's XML answers (object listing, multipart
// initiation, part listing, error document) and the completion body built
// from a part listing. Checks, for every input: a parser either succeeds or
// says AOSE_XML_PARSE_ERROR and then leaves its outputs as they were; every
// string it hands out is NUL-terminated at its length; the result does not
// depend on how the body is split into buffers; and the completion body
// carries exactly the listed part numbers and ETags.
#include <apr_general.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <mxml.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Contracts/oss/oss_api.h"
#include "Contracts/oss/oss_xml.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// APR and the pool of one input.
class Pool {
public:
    Pool() {
        static const bool initialised = apr_initialize() == APR_SUCCESS;
        Check(initialised);
        Check(apr_pool_create_ex(&pool_, nullptr, nullptr, nullptr) == APR_SUCCESS);
    }
    ~Pool() { apr_pool_destroy(pool_); }
    aos_pool_t* get() const { return pool_; }

private:
    aos_pool_t* pool_ = nullptr;
};

// The body as a list of buffers of `piece` bytes (one buffer when 0).
aos_list_t* Body(aos_pool_t* p, const std::string& text, size_t piece) {
    aos_list_t* list = static_cast<aos_list_t*>(apr_palloc(p, sizeof(aos_list_t)));
    aos_list_init(list);
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (size_t off = 0; off < text.size(); off += piece) {
        const size_t n = std::min(piece, text.size() - off);
        aos_buf_t* b = aos_buf_pack(p, text.data() + off, static_cast<int64_t>(n));
        aos_list_add_tail(&b->node, list);
    }
    return list;
}

// A string the layer handed out: present and NUL-terminated at its length.
std::string Text(const aos_string_t& s) {
    Check(s.data != nullptr && s.len >= 0);
    Check(std::strlen(s.data) == static_cast<size_t>(s.len));
    return std::string(s.data, static_cast<size_t>(s.len));
}

bool IsDecimal(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool Trimmed(const std::string& s) {
    return s.empty() || (!IsSpace(s.front()) && !IsSpace(s.back()));
}

const char kUntouched[] = "untouched";

struct Listing {
    int rc = 0;
    std::vector<std::string> objects;  // key, size, last-modified, etag, class per object
    std::vector<std::string> prefixes;
    std::string marker;
    int truncated = -7;
    bool operator==(const Listing& o) const {
        return rc == o.rc && objects == o.objects && prefixes == o.prefixes && marker == o.marker &&
               truncated == o.truncated;
    }
};

Listing ParseListing(const std::string& text, size_t piece) {
    Pool pool;
    aos_list_t objects, prefixes;
    aos_list_init(&objects);
    aos_list_init(&prefixes);
    aos_string_t marker;
    aos_str_set(&marker, kUntouched);
    Listing out;
    out.rc = oss_list_objects_parse_from_body(pool.get(), Body(pool.get(), text, piece), &objects,
                                              &prefixes, &marker, &out.truncated);
    Check(out.rc == AOSE_OK || out.rc == AOSE_XML_PARSE_ERROR);
    if (out.rc != AOSE_OK) {
        Check(aos_list_empty(&objects) && aos_list_empty(&prefixes));
        Check(marker.data == kUntouched && out.truncated == -7);
        return out;
    }
    Check(out.truncated == 0 || out.truncated == 1);
    oss_list_object_content_t* o;
    aos_list_for_each_entry(oss_list_object_content_t, o, &objects, node) {
        const std::string key = Text(o->key), size = Text(o->size);
        Check(!key.empty());
        Check(size.empty() || IsDecimal(size));
        out.objects.push_back(key);
        out.objects.push_back(size);
        out.objects.push_back(Text(o->last_modified));
        out.objects.push_back(Text(o->etag));
        out.objects.push_back(Text(o->storage_class));
    }
    oss_list_object_common_prefix_t* c;
    aos_list_for_each_entry(oss_list_object_common_prefix_t, c, &prefixes, node) {
        out.prefixes.push_back(Text(c->prefix));
        Check(!out.prefixes.back().empty());
    }
    out.marker = Text(marker);
    // A truncated page always says where the next one starts.
    if (out.truncated == 1) Check(!out.marker.empty());
    return out;
}

struct Parts {
    int rc = 0;
    std::vector<std::pair<std::string, std::string>> parts;  // number, ETag
    std::string next;
    int truncated = -7;
    bool operator==(const Parts& o) const {
        return rc == o.rc && parts == o.parts && next == o.next && truncated == o.truncated;
    }
};

// The completion body built from `parts`, read back: its part numbers and
// ETags in order.
void CheckCompletionBody(aos_pool_t* p, const aos_list_t* part_list,
                         const std::vector<std::pair<std::string, std::string>>& expected) {
    aos_list_t body;
    aos_list_init(&body);
    Check(oss_build_complete_multipart_upload_body(p, part_list, &body) == AOSE_OK);
    int64_t len = 0;
    const char* xml = aos_buf_list_flatten(p, &body, &len);
    mxml_node_t* top = mxmlLoadString(nullptr, xml, MXML_OPAQUE_CALLBACK);
    Check(top != nullptr);
    mxml_node_t* root =
        mxmlFindElement(top, top, "CompleteMultipartUpload", nullptr, nullptr, MXML_DESCEND);
    Check(root != nullptr);
    std::vector<std::pair<std::string, std::string>> got;
    for (mxml_node_t* part =
             mxmlFindElement(root, root, "Part", nullptr, nullptr, MXML_DESCEND_FIRST);
         part; part = mxmlFindElement(part, root, "Part", nullptr, nullptr, MXML_NO_DESCEND)) {
        auto text = [&](const char* name) {
            mxml_node_t* el =
                mxmlFindElement(part, part, name, nullptr, nullptr, MXML_DESCEND_FIRST);
            Check(el != nullptr);
            std::string s;
            for (mxml_node_t* n = mxmlGetFirstChild(el); n; n = mxmlGetNextSibling(n))
                if (mxmlGetType(n) == MXML_OPAQUE) s += mxmlGetOpaque(n);
            return s;
        };
        got.emplace_back(text("PartNumber"), text("ETag"));
    }
    mxmlDelete(top);
    Check(got == expected);
}

Parts ParseParts(const std::string& text, size_t piece, bool complete) {
    Pool pool;
    aos_list_t parts;
    aos_list_init(&parts);
    aos_string_t next;
    aos_str_set(&next, kUntouched);
    Parts out;
    out.rc = oss_list_parts_parse_from_body(pool.get(), Body(pool.get(), text, piece), &parts,
                                            &next, &out.truncated);
    Check(out.rc == AOSE_OK || out.rc == AOSE_XML_PARSE_ERROR);
    if (out.rc != AOSE_OK) {
        Check(aos_list_empty(&parts));
        Check(next.data == kUntouched && out.truncated == -7);
        return out;
    }
    Check(out.truncated == 0 || out.truncated == 1);
    aos_list_t completion;
    aos_list_init(&completion);
    oss_list_part_content_t* part;
    aos_list_for_each_entry(oss_list_part_content_t, part, &parts, node) {
        const std::string number = Text(part->part_number), etag = Text(part->etag);
        Check(IsDecimal(number) && std::atoi(number.c_str()) >= 1 &&
              std::atoi(number.c_str()) <= OSS_MAX_PART_NUM);
        Check(!etag.empty() && Trimmed(etag));
        const std::string size = Text(part->size);
        Check(size.empty() || IsDecimal(size));
        Text(part->last_modified);
        out.parts.emplace_back(number, etag);
        // The upload completes from the listing exactly as MultiUploadFile does.
        oss_complete_part_content_t* entry = oss_create_complete_part_content(pool.get());
        entry->part_number = part->part_number;
        entry->etag = part->etag;
        aos_list_add_tail(&entry->node, &completion);
    }
    out.next = Text(next);
    if (out.truncated == 1) Check(!out.next.empty());
    if (complete) CheckCompletionBody(pool.get(), &completion, out.parts);
    return out;
}

std::pair<int, std::string> ParseUploadId(const std::string& text, size_t piece) {
    Pool pool;
    aos_string_t id;
    aos_str_set(&id, kUntouched);
    const int rc = oss_upload_id_parse_from_body(pool.get(), Body(pool.get(), text, piece), &id);
    Check(rc == AOSE_OK || rc == AOSE_XML_PARSE_ERROR);
    if (rc != AOSE_OK) {
        Check(id.data == kUntouched);
        return {rc, ""};
    }
    const std::string value = Text(id);
    Check(!value.empty() && Trimmed(value));
    return {rc, value};
}

std::vector<std::string> ParseError(const std::string& text, size_t piece) {
    Pool pool;
    aos_status_t* s = aos_status_create(pool.get());
    char code[] = "code", msg[] = "msg", req[] = "req";
    s->code = 500;
    s->error_code = code;
    s->error_msg = msg;
    s->req_id = req;
    const int rc = oss_error_parse_from_body(pool.get(), Body(pool.get(), text, piece), s);
    Check(rc == AOSE_OK || rc == AOSE_XML_PARSE_ERROR);
    Check(s->code == 500);
    if (rc != AOSE_OK) Check(s->error_code == code && s->error_msg == msg && s->req_id == req);
    Check(s->error_code && s->error_msg && s->req_id);
    Check(Trimmed(s->error_code));
    return {std::to_string(rc), s->error_code, s->error_msg, s->req_id};
}

// A completion list made up from the input: accepted exactly when every
// entry has a decimal part number of at most 10000 and a non-empty ETag, and
// then the body carries them unchanged (markup characters included).
void CheckBuiltCompletion(FuzzedDataProvider& fdp) {
    Pool pool;
    aos_list_t completion;
    aos_list_init(&completion);
    std::vector<std::pair<std::string, std::string>> entries;
    bool valid = true;
    const int count = fdp.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < count; ++i) {
        std::string number = fdp.ConsumeBool()
                                 ? std::to_string(fdp.ConsumeIntegralInRange<int>(0, 10001))
                                 : fdp.ConsumeRandomLengthString(6);
        std::string etag;
        for (char c : fdp.ConsumeRandomLengthString(40))
            etag.push_back(static_cast<char>(0x20 + static_cast<unsigned char>(c) % 0x5f));
        number = number.substr(0, number.find('\0'));
        // Leading zeros are fine: the value counts.
        const size_t digits = number.find_first_not_of('0');
        const std::string value = digits == std::string::npos ? "0" : number.substr(digits);
        if (!IsDecimal(number) || value.size() > 5 || std::atoi(value.c_str()) > OSS_MAX_PART_NUM ||
            etag.empty())
            valid = false;
        oss_complete_part_content_t* entry = oss_create_complete_part_content(pool.get());
        aos_str_pset(pool.get(), &entry->part_number, number.data(), number.size());
        aos_str_pset(pool.get(), &entry->etag, etag.data(), etag.size());
        aos_list_add_tail(&entry->node, &completion);
        entries.emplace_back(number, etag);
    }
    if (valid) {
        CheckCompletionBody(pool.get(), &completion, entries);
    } else {
        aos_list_t body;
        aos_list_init(&body);
        Check(oss_build_complete_multipart_upload_body(pool.get(), &completion, &body) ==
              AOSE_INVALID_ARGUMENT);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t piece = 1 + data[0] % 64;
    const int which = data[1] % 5;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    switch (which) {
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
            break;
        }
    }
    return 0;
}
