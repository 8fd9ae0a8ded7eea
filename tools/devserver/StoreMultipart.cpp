// Multipart uploads: initiate, upload part, list parts, complete (validated;
// the object is made of the part blobs, not a copy of them), abort.
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

#include "Crc64.h"
#include "Signer.h"
#include "StoreServer.h"
#include "TimeUtil.h"
#include "Xml.h"

namespace devserver {
namespace {

constexpr int kMaxPartNumber = 10000;
constexpr long long kMinPartSize = 100 * 1024;
constexpr size_t kMaxCompleteBody = 4u << 20;

const char* kNoSuchUpload =
    "The specified upload does not exist. The upload ID may be invalid, or the upload may have "
    "been aborted or completed.";

// Upper-case hex without quotes, for comparing ETags however they were quoted.
std::string NormalizeEtag(const std::string& etag) {
    std::string out;
    for (char ch : etag)
        if (ch != '"') out += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

std::string RawFromHex(const std::string& hex) {
    std::string raw;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return raw;
}

std::string Md5Of(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

// Why a completion's part list is refused.
struct Refusal {
    int status = 400;
    std::string code, message;
    KeyValues extra;
};

// The stored parts that a completion's list names, in its order: ascending
// part numbers, each with its ETag (however quoted or cased), all but the
// last of the minimum size.
bool ChooseParts(const std::vector<CompletePart>& wanted, const std::vector<Part>& stored,
                 std::vector<Part>& chosen, Refusal& refusal) {
    std::map<int, const Part*> by_number;
    for (const Part& p : stored) by_number[p.part_number] = &p;
    chosen.clear();
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (i > 0 && wanted[i].part_number <= wanted[i - 1].part_number) {
            refusal = {400,
                       "InvalidPartOrder",
                       "The list of parts was not in ascending order. The parts list must be "
                       "specified in order by part number.",
                       {}};
            return false;
        }
        auto it = by_number.find(static_cast<int>(wanted[i].part_number));
        if (it == by_number.end() ||
            NormalizeEtag(it->second->etag) != NormalizeEtag(wanted[i].etag)) {
            refusal = {
                400,
                "InvalidPart",
                "One or more of the specified parts could not be found or the specified "
                "entity tag might not have matched the part's entity tag.",
                {{"PartNumber", std::to_string(wanted[i].part_number)}, {"ETag", wanted[i].etag}}};
            return false;
        }
        chosen.push_back(*it->second);
    }
    for (size_t i = 0; i + 1 < chosen.size(); ++i) {
        if (chosen[i].size < kMinPartSize) {
            refusal = {400,
                       "EntityTooSmall",
                       "Your proposed upload is smaller than the minimum allowed size.",
                       {{"PartNumber", std::to_string(chosen[i].part_number)},
                        {"MinSizeAllowed", std::to_string(kMinPartSize)}}};
            return false;
        }
    }
    return true;
}

}  // namespace

void StoreService::InitiateMultipartUpload(StoreContext& c) {
    Upload u;
    u.upload_id = HexUpper(RawFromHex(RandomHex(16)));
    u.bucket = c.addr.bucket;
    u.key = c.addr.key;
    u.initiated_ms = NowMillis();
    u.content_type = HeaderValue(c.headers, "Content-Type");
    if (u.content_type.empty()) u.content_type = "application/octet-stream";
    u.user_meta = UserMetaJson(c.headers);
    u.content_headers = ContentHeadersJson(c.headers);
    db_.CreateUpload(u);
    XmlWriter w;
    w.Open("InitiateMultipartUploadResult")
        .Element("Bucket", u.bucket)
        .Element("Key", u.key)
        .Element("UploadId", u.upload_id)
        .Close("InitiateMultipartUploadResult");
    SendXml(c, 200, w.str());
}

bool StoreService::FindUpload(StoreContext& c) {
    Upload& u = c.upload;
    if (db_.GetUpload(QueryValue(c.query, "uploadId"), u) && u.bucket == c.addr.bucket &&
        u.key == c.addr.key)
        return true;
    SendError(c, 404, "NoSuchUpload", kNoSuchUpload,
              {{"UploadId", QueryValue(c.query, "uploadId")}});
    return false;
}

void StoreService::PrepareUploadPart(StoreContext& c) {
    if (!ParseListCount(QueryValue(c.query, "partNumber"), 1, kMaxPartNumber, c.part_number))
        return SendError(
            c, 400, "InvalidArgument",
            "Part number must be an integer between 1 and 10000, inclusive.",
            {{"ArgumentName", "partNumber"}, {"ArgumentValue", QueryValue(c.query, "partNumber")}});
    if (WithinUploadLimit(c) && FindUpload(c)) c.blob = std::make_unique<BlobWriter>(blobs_);
}

void StoreService::UploadPart(StoreContext& c) {
    BlobWriter& w = *c.blob;
    const Upload& u = c.upload;
    if (!w.ok()) return SendError(c, 500, "InternalError", "The server could not store the data.");
    std::string md5 = w.Md5();
    if (!DigestMatches(c, md5)) return;
    Part p;
    p.part_number = c.part_number;
    p.size = w.size();
    p.etag = "\"" + HexUpper(md5) + "\"";
    p.crc64 = w.crc64();
    p.last_modified_ms = NowMillis();
    if (!w.Publish(BlobKind::kPart, p.file))
        return SendError(c, 500, "InternalError", "The server could not store the part.");
    std::string old;
    try {
        old = db_.PutPart(u.upload_id, p);
    } catch (const std::out_of_range&) {
        blobs_.Remove(BlobKind::kPart, p.file);
        return SendError(c, 404, "NoSuchUpload", kNoSuchUpload, {{"UploadId", u.upload_id}});
    }
    blobs_.Remove(BlobKind::kPart, old);
    c.answer.Set("ETag", p.etag);
    c.answer.Set("x-oss-hash-crc64ecma", std::to_string(p.crc64));
    c.answer.Set("Content-MD5",
                 Base64Encode(reinterpret_cast<const unsigned char*>(md5.data()), md5.size()));
}

void StoreService::ListParts(StoreContext& c) {
    if (!FindUpload(c)) return;
    const Upload& u = c.upload;
    bool has_max = false, has_marker = false;
    std::string max_text = QueryValue(c.query, "max-parts", &has_max);
    std::string marker_text = QueryValue(c.query, "part-number-marker", &has_marker);
    int max_parts = 1000, marker = 0;
    if (has_max && !ParseListCount(max_text, 1, 1000, max_parts))
        return SendError(c, 400, "InvalidArgument", "max-parts must be between 1 and 1000.",
                         {{"ArgumentName", "max-parts"}, {"ArgumentValue", max_text}});
    if (has_marker && !marker_text.empty() &&
        !ParseListCount(marker_text, 0, kMaxPartNumber, marker))
        return SendError(c, 400, "InvalidArgument", "part-number-marker is invalid.",
                         {{"ArgumentName", "part-number-marker"}, {"ArgumentValue", marker_text}});
    int limit = max_parts;
    if (c.settings.max_list_parts > 0) limit = std::min(limit, c.settings.max_list_parts);
    std::vector<Part> parts = db_.Parts(u.upload_id, marker, limit + 1);
    bool truncated = static_cast<int>(parts.size()) > limit;
    if (truncated) parts.resize(static_cast<size_t>(limit));

    XmlWriter w;
    w.Open("ListPartsResult")
        .Element("Bucket", u.bucket)
        .Element("Key", u.key)
        .Element("UploadId", u.upload_id)
        .Element("PartNumberMarker", marker)
        .Element("NextPartNumberMarker", parts.empty() ? marker : parts.back().part_number)
        .Element("MaxParts", max_parts)
        .Element("IsTruncated", truncated ? "true" : "false");
    for (const Part& p : parts) {
        w.Open("Part")
            .Element("PartNumber", p.part_number)
            .Element("LastModified", IsoListingTime(p.last_modified_ms))
            .Element("ETag", p.etag)
            .Element("HashCrc64ecma", std::to_string(p.crc64))
            .Element("Size", p.size)
            .Close("Part");
    }
    w.Close("ListPartsResult");
    SendXml(c, 200, w.str());
}

void StoreService::PrepareCompletion(StoreContext& c) {
    if (FindUpload(c)) c.document_limit = kMaxCompleteBody;
}

void StoreService::CompleteMultipartUpload(StoreContext& c) {
    const Upload& u = c.upload;
    if (!DigestMatches(c, Md5Of(c.document))) return;
    std::vector<CompletePart> wanted;
    if (!ParseCompleteMultipartUpload(c.document, wanted))
        return SendError(c, 400, "MalformedXML",
                         "The XML you provided was not well-formed or did not validate against "
                         "our published schema.");
    if (OverwriteRefused(c)) return;

    // The object is the chosen parts' blobs, linked over in order while the
    // parts are looked up, so that a part sent again meanwhile cannot take
    // its blob away first: no byte is copied, and the object's CRC-64 follows
    // from the parts' own.
    std::vector<Part> stored, chosen;
    Refusal refusal;
    ObjectMeta m;
    bool linked = true;
    db_.Parts(u.upload_id, [&](const std::vector<Part>& parts) {
        stored = parts;
        if (!ChooseParts(wanted, parts, chosen, refusal)) return;
        HoldBeforeOpening(c);
        for (const Part& p : chosen) {
            BlobRef blob{"", p.size};
            linked = blobs_.AdoptPart(p.file, blob.name);
            if (!linked) break;
            m.blobs.push_back(blob);
        }
    });
    if (!refusal.code.empty())
        return SendError(c, refusal.status, refusal.code, refusal.message, refusal.extra);
    if (!linked) {
        blobs_.Release(m.blobs);
        return SendError(c, 500, "InternalError", "The server could not assemble the object.");
    }
    uint64_t crc = 0;
    long long size = 0;
    std::string md5s;
    for (const Part& p : chosen) {
        crc = Crc64Combine(crc, p.crc64, static_cast<uint64_t>(p.size));
        size += p.size;
        md5s += RawFromHex(NormalizeEtag(p.etag));
    }
    const std::string digest = Md5Of(md5s);
    m.bucket = u.bucket;
    m.key = u.key;
    m.size = size;
    m.etag = "\"" + HexUpper(digest) + "-" + std::to_string(chosen.size()) + "\"";
    m.crc64 = crc;
    m.last_modified_ms = NowMillis();
    m.content_type = u.content_type;
    m.type = "Multipart";
    m.user_meta = u.user_meta;
    m.content_headers = u.content_headers;
    BlobList old;
    try {
        old = db_.CompleteUpload(u.upload_id, m, chosen, ForbidsOverwrite(c.headers));
    } catch (const ObjectExists&) {
        blobs_.Release(m.blobs);
        return RefuseOverwrite(c);
    } catch (const std::out_of_range&) {
        blobs_.Release(m.blobs);
        return SendError(c, 404, "NoSuchUpload", kNoSuchUpload, {{"UploadId", u.upload_id}});
    } catch (const PartChanged&) {
        blobs_.Release(m.blobs);
        return SendError(c, 409, "PartChanged",
                         "A part was uploaded again while the upload was being completed.");
    }
    blobs_.Release(old);
    for (const Part& p : stored) blobs_.Remove(BlobKind::kPart, p.file);

    c.answer.Set("ETag", m.etag);
    c.answer.Set("x-oss-hash-crc64ecma", std::to_string(m.crc64));
    XmlWriter w;
    w.Open("CompleteMultipartUploadResult")
        .Element("Location", "/" + m.bucket + "/" + m.key)
        .Element("Bucket", m.bucket)
        .Element("Key", m.key)
        .Element("ETag", m.etag)
        .Close("CompleteMultipartUploadResult");
    SendXml(c, 200, w.str());
}

void StoreService::AbortMultipartUpload(StoreContext& c) {
    if (!FindUpload(c)) return;
    for (const Part& p : db_.AbortUpload(c.upload.upload_id))
        blobs_.Remove(BlobKind::kPart, p.file);
    c.answer.status = 204;
}

}  // namespace devserver
