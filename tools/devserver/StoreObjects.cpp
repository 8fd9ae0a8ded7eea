// Single-object operations: PutBucket, PutObject, GetObject/HeadObject,
// DeleteObject, CopyObject.
#include <fcntl.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "ObjectReader.h"
#include "Preconditions.h"
#include "Signer.h"
#include "StoreServer.h"
#include "TimeUtil.h"
#include "Xml.h"

namespace devserver {
namespace {

// Bytes [first, first + length) of an object; for a HEAD answer (no reader)
// only their length.
class ObjectBody : public AnswerBody {
public:
    ObjectBody(std::shared_ptr<const ObjectReader> reader, long long first, long long length)
        : reader_(std::move(reader)), first_(first), length_(length) {}
    long long Size() const override { return length_; }
    ssize_t ReadAt(long long offset, char* buf, size_t len) const override {
        return reader_ ? reader_->ReadAt(first_ + offset, buf, len) : -1;
    }
    // One piece: the stretch lies in one blob, and can be sent from it.
    int FileStretch(long long& offset) const override {
        if (!reader_ || reader_->pieces().size() != 1) return -1;
        offset = reader_->pieces()[0].offset;
        return fcntl(reader_->pieces()[0].fd, F_DUPFD_CLOEXEC, 0);
    }

private:
    std::shared_ptr<const ObjectReader> reader_;
    long long first_, length_;
};

std::string ContentTypeOf(const KeyValues& headers) {
    std::string t = HeaderValue(headers, "Content-Type");
    return t.empty() ? "application/octet-stream" : t;
}

}  // namespace

bool StoreService::Record(StoreContext& c, const ObjectMeta& m, bool keep_existing) {
    BlobList old;
    try {
        old = db_.PutObject(m, keep_existing);
    } catch (const ObjectExists&) {
        blobs_.Release(m.blobs);
        RefuseOverwrite(c);
        return false;
    } catch (const std::exception&) {
        blobs_.Release(m.blobs);
        SendError(c, 500, "InternalError", "The server could not record the object.");
        return false;
    }
    blobs_.Release(old);
    return true;
}

void StoreService::PutBucket(StoreContext& c) {
    db_.CreateBucket(c.addr.bucket, NowMillis());
    c.answer.Set("Location", "/" + c.addr.bucket);
}

void StoreService::PreparePutObject(StoreContext& c) {
    // The store keeps no conditional writes.
    if (HasPrecondition(c.headers))
        return SendError(c, 400, "NotImplemented",
                         "A header you provided implies functionality that is not implemented.");
    if (!WithinUploadLimit(c) || OverwriteRefused(c)) return;
    c.blob = std::make_unique<BlobWriter>(blobs_);
}

void StoreService::PutObject(StoreContext& c) {
    BlobWriter& w = *c.blob;
    if (!w.ok()) return SendError(c, 500, "InternalError", "The server could not store the data.");
    std::string md5 = w.Md5();
    if (!DigestMatches(c, md5)) return;
    ObjectMeta m;
    m.bucket = c.addr.bucket;
    m.key = c.addr.key;
    m.size = w.size();
    m.etag = "\"" + HexUpper(md5) + "\"";
    m.crc64 = w.crc64();
    m.last_modified_ms = NowMillis();
    m.content_type = ContentTypeOf(c.headers);
    m.user_meta = UserMetaJson(c.headers);
    m.content_headers = ContentHeadersJson(c.headers);
    BlobRef blob{"", m.size};
    if (!w.Publish(BlobKind::kObject, blob.name))
        return SendError(c, 500, "InternalError", "The server could not store the object.");
    m.blobs = {blob};
    if (!Record(c, m, ForbidsOverwrite(c.headers))) return;
    c.answer.Set("ETag", m.etag);
    c.answer.Set("x-oss-hash-crc64ecma", std::to_string(m.crc64));
    c.answer.Set("Content-MD5",
                 Base64Encode(reinterpret_cast<const unsigned char*>(md5.data()), md5.size()));
}

void StoreService::GetObject(StoreContext& c, bool head) {
    const std::string range_header = head || c.settings.ignore_range ? "" : c.req.Header("Range");
    const RangeBehavior behavior = HeaderValue(c.headers, "x-oss-range-behavior") == "standard"
                                       ? RangeBehavior::kStandard
                                       : RangeBehavior::kLenient;
    // GetObjectMeta takes no conditions.
    bool meta_only = false;
    QueryValue(c.query, "objectMeta", &meta_only);
    Precondition condition = Precondition::kPass;
    ByteRange range;
    long long first = 0, last = -1;
    ObjectMeta m;
    std::shared_ptr<ObjectReader> reader;
    // The conditions, then the range, follow from the object as found; its
    // bytes are opened under the database's lock, as the blobs a change
    // replaces are removed only after it commits, which waits for this.
    const bool found = db_.GetObject(c.addr.bucket, c.addr.key, m, [&](const ObjectMeta& o) {
        if (!meta_only)
            condition = EvaluatePreconditions(c.headers, o.etag, o.last_modified_ms / 1000);
        range = ParseRange(range_header, o.size, behavior);
        first = range.kind == ByteRange::kPartial ? range.first : 0;
        last = range.kind == ByteRange::kPartial ? range.last : o.size - 1;
        if (head || condition != Precondition::kPass || range.kind == ByteRange::kUnsatisfiable)
            return;
        HoldBeforeOpening(c);
        reader = std::make_shared<ObjectReader>(blobs_, o.blobs, first, last);
    });
    if (!found)
        return SendError(c, 404, "NoSuchKey", "The specified key does not exist.",
                         {{"Key", c.addr.key}});
    if (condition == Precondition::kFailed)
        return SendError(c, 412, "PreconditionFailed",
                         "At least one of the pre-conditions you specified did not hold.");
    Answer& a = c.answer;
    if (condition == Precondition::kNotModified) {
        a.status = 304;
        a.Set("ETag", m.etag);
        a.Set("Last-Modified", HttpDate(m.last_modified_ms));
        return;
    }
    if (range.kind == ByteRange::kUnsatisfiable) {
        a.Set("Content-Range", "bytes */" + std::to_string(m.size));
        return SendError(c, 416, "InvalidRange", "The requested range cannot be satisfied.");
    }
    if (reader && !reader->ok())
        return SendError(c, 500, "InternalError", "The object data cannot be read.");
    const bool partial = range.kind == ByteRange::kPartial;

    a.status = partial ? 206 : 200;
    a.Set("ETag", m.etag);
    a.Set("Last-Modified", HttpDate(m.last_modified_ms));
    a.Set("x-oss-object-type", m.type);
    a.Set("x-oss-storage-class", "Standard");
    a.Set("Accept-Ranges", "bytes");
    // Also a range's answer carries the whole object's checksum.
    a.Set("x-oss-hash-crc64ecma", std::to_string(m.crc64));
    if (partial)
        a.Set("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                   std::to_string(m.size));
    SetStoredHeaders(a, m.user_meta);
    SetStoredHeaders(a, m.content_headers);
    std::string type = m.content_type;
    static const char* kOverrides[][2] = {{"response-content-language", "Content-Language"},
                                          {"response-expires", "Expires"},
                                          {"response-cache-control", "Cache-Control"},
                                          {"response-content-disposition", "Content-Disposition"},
                                          {"response-content-encoding", "Content-Encoding"}};
    for (const auto& o : kOverrides) {
        bool found = false;
        std::string v = QueryValue(c.query, o[0], &found);
        if (found) a.Set(o[1], v);
    }
    bool found_type = false;
    std::string override_type = QueryValue(c.query, "response-content-type", &found_type);
    a.Set("Content-Type", found_type ? override_type : type);
    // A HEAD answer announces the length; a GET reads the bytes as they are sent.
    const long long length = m.size == 0 ? 0 : last - first + 1;
    if (length > 0) a.body = std::make_shared<ObjectBody>(reader, first, length);
}

void StoreService::DeleteObject(StoreContext& c) {
    blobs_.Release(db_.DeleteObject(c.addr.bucket, c.addr.key));
    c.answer.status = 204;
}

void StoreService::CopyObject(StoreContext& c) {
    std::string source;
    if (!PercentDecode(HeaderValue(c.headers, "x-oss-copy-source"), source) || source.size() < 2 ||
        source[0] != '/' || source.find('/', 1) == std::string::npos ||
        source.find('/', 1) + 1 >= source.size())
        return SendError(c, 400, "InvalidArgument",
                         "Copy Source must mention the source bucket and key: "
                         "/sourcebucket/sourcekey.");
    size_t slash = source.find('/', 1);
    std::string src_bucket = source.substr(1, slash - 1);
    std::string src_key = source.substr(slash + 1);
    std::string directive = HeaderValue(c.headers, "x-oss-metadata-directive");
    if (!directive.empty() && directive != "COPY" && directive != "REPLACE")
        return SendError(c, 400, "InvalidArgument", "Invalid x-oss-metadata-directive.");
    if (!db_.BucketExists(src_bucket))
        return SendError(c, 404, "NoSuchBucket", "The specified bucket does not exist.",
                         {{"BucketName", src_bucket}});
    if (!auth_.MayAccess(src_bucket))
        return SendError(c, 403, "AccessDenied", "The bucket you access does not belong to you.");
    if (OverwriteRefused(c)) return;
    // The source's blobs are linked before a change can take them away, as a
    // GET opens them (the same hold for tests of that race).
    ObjectMeta m;
    BlobList copied;
    bool linked = false;
    const bool found = db_.GetObject(src_bucket, src_key, m, [&](const ObjectMeta& src) {
        HoldBeforeOpening(c);
        linked = blobs_.Duplicate(src.blobs, copied);
    });
    if (!found)
        return SendError(c, 404, "NoSuchKey", "The specified key does not exist.",
                         {{"Key", src_key}});
    if (!linked) return SendError(c, 500, "InternalError", "The server could not copy the object.");
    m.bucket = c.addr.bucket;
    m.key = c.addr.key;
    m.last_modified_ms = NowMillis();
    m.blobs = copied;
    if (directive == "REPLACE") {
        m.content_type = ContentTypeOf(c.headers);
        m.user_meta = UserMetaJson(c.headers);
        m.content_headers = ContentHeadersJson(c.headers);
    }
    if (!Record(c, m, ForbidsOverwrite(c.headers))) return;
    c.answer.Set("x-oss-hash-crc64ecma", std::to_string(m.crc64));
    c.answer.Set("ETag", m.etag);
    XmlWriter w;
    w.Open("CopyObjectResult")
        .Element("ETag", m.etag)
        .Element("LastModified", IsoListingTime(m.last_modified_ms))
        .Close("CopyObjectResult");
    SendXml(c, 200, w.str());
}

}  // namespace devserver
