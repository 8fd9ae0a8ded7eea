// Everything the server keeps besides object bytes, in one SQLite database:
// backup records, issued credentials, buckets, object metadata, multipart
// uploads and their parts. Every change is one transaction (WAL), so a killed
// server keeps all it acknowledged. Thread-safe: one connection, one lock.
#ifndef TOOLS_DEVSERVER_DATABASE_H
#define TOOLS_DEVSERVER_DATABASE_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "ObjectFiles.h"

struct sqlite3;

namespace devserver {

struct Record {
    long long id = 0;
    std::string name, backup_name, date_time, file_path, file_name;
    long long file_size = 0;
    long long expire_time = 0;
};

struct Credential {
    std::string access_key_id, access_key_secret, security_token;
    int64_t expires_at = 0;  // seconds since the epoch
};

struct ObjectMeta {
    std::string bucket, key;
    long long size = 0;
    std::string etag;  // quoted
    uint64_t crc64 = 0;
    int64_t last_modified_ms = 0;
    std::string content_type;
    std::string type = "Normal";  // or "Multipart"
    std::string user_meta;        // JSON object of x-oss-meta-* headers
    // The bytes, in order: one object blob, or the part blobs of a completed
    // multipart upload (which ObjectsFrom, for listings, leaves out).
    BlobList blobs;
    // JSON object of the standard headers given on upload (Cache-Control,
    // Content-Disposition, Content-Encoding, Expires), returned on download.
    std::string content_headers = "{}";
};

struct Upload {
    std::string upload_id, bucket, key;
    int64_t initiated_ms = 0;
    std::string content_type;
    std::string user_meta;
    std::string content_headers = "{}";  // for the completed object
};

struct Part {
    int part_number = 0;
    long long size = 0;
    std::string etag;  // quoted
    uint64_t crc64 = 0;
    int64_t last_modified_ms = 0;
    std::string file;  // blob name under the parts directory
};

// A part of an upload was replaced while the upload was being completed.
struct PartChanged : std::runtime_error {
    PartChanged() : std::runtime_error("a part changed during completion") {}
};

// A change that must not overwrite found an object under its key.
struct ObjectExists : std::runtime_error {
    ObjectExists() : std::runtime_error("the object exists") {}
};

class Database {
public:
    // Opens or creates the database; one written by an earlier version is
    // brought up to this one's schema, one by a later version refused. Throws
    // std::runtime_error.
    explicit Database(const std::string& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Backup records.
    Record InsertRecord(const Record& r);  // returns it with its new id
    long long UserSpace(const std::string& name);
    long long CountRecords(const std::string& name);
    std::vector<Record> Records(const std::string& name, long long limit, long long offset);
    long long DeleteRecords(const std::string& name);

    // Credentials.
    void InsertCredential(const Credential& c);
    bool FindCredential(const std::string& access_key_id, Credential& out);
    void ExpireAllCredentials(int64_t now_seconds);

    // Buckets.
    bool BucketExists(const std::string& name);
    void CreateBucket(const std::string& name, int64_t now_ms);

    // Objects. Put/Delete return the blobs the change released, which the
    // caller removes after they return.
    bool GetObject(const std::string& bucket, const std::string& key, ObjectMeta& out);
    // The same, handing the object to `pin` before the lock is let go: a
    // change commits, and so releases the blobs it replaced, either before
    // the lookup or after `pin` returns, so the blobs `pin` opens are the
    // ones `out` names. `pin` must not call the database.
    bool GetObject(const std::string& bucket, const std::string& key, ObjectMeta& out,
                   const std::function<void(const ObjectMeta&)>& pin);
    // With `keep_existing`, throws ObjectExists instead of replacing an object.
    BlobList PutObject(const ObjectMeta& meta, bool keep_existing = false);
    BlobList DeleteObject(const std::string& bucket, const std::string& key);
    // Objects of `bucket` with key > from (or >= from when inclusive), in byte
    // order, at most `limit`; metadata only.
    std::vector<ObjectMeta> ObjectsFrom(const std::string& bucket, const std::string& from,
                                        bool inclusive, int limit);

    // Multipart uploads.
    void CreateUpload(const Upload& u);
    bool GetUpload(const std::string& upload_id, Upload& out);
    std::string PutPart(const std::string& upload_id, const Part& p);  // replaced blob or ""
    std::vector<Part> Parts(const std::string& upload_id, int after_part, int limit);
    // All parts of an upload, handed to `pin` before the lock is let go: a
    // part sent again commits, and so releases the blob it replaced, either
    // before the lookup or after `pin` returns. `pin` must not call the
    // database.
    void Parts(const std::string& upload_id,
               const std::function<void(const std::vector<Part>&)>& pin);
    // Stores the object made of the parts `used`, drops the upload and its
    // parts' records; returns the blobs of the object it replaced. Throws
    // std::out_of_range when the upload is gone, PartChanged when one of
    // `used` is no longer stored as it was (the part was sent again),
    // ObjectExists when `keep_existing` and an object has the key.
    BlobList CompleteUpload(const std::string& upload_id, const ObjectMeta& meta,
                            const std::vector<Part>& used, bool keep_existing = false);
    // Drops the upload; returns its parts (whose blobs the caller removes).
    std::vector<Part> AbortUpload(const std::string& upload_id);

    // The blob names of `kind` that an object or an open upload's part refers
    // to: what a start keeps under objects/ and parts/.
    std::unordered_set<std::string> NamedBlobs(BlobKind kind);

private:
    void Exec(const char* sql);
    void Migrate();
    sqlite3* db_ = nullptr;
    std::mutex mu_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_DATABASE_H
