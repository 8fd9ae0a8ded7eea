#include "Database.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace devserver {
namespace {

const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS records (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL, backup_name TEXT NOT NULL, date_time TEXT NOT NULL,
  file_path TEXT NOT NULL, file_name TEXT NOT NULL,
  file_size INTEGER NOT NULL, expire_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS records_by_name ON records(name, id);
CREATE TABLE IF NOT EXISTS credentials (
  access_key_id TEXT PRIMARY KEY, access_key_secret TEXT NOT NULL,
  security_token TEXT NOT NULL, expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS buckets (name TEXT PRIMARY KEY, created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS objects (
  bucket TEXT NOT NULL, key TEXT NOT NULL, size INTEGER NOT NULL, etag TEXT NOT NULL,
  crc64 INTEGER NOT NULL, last_modified_ms INTEGER NOT NULL, content_type TEXT NOT NULL,
  type TEXT NOT NULL, user_meta TEXT NOT NULL, file TEXT NOT NULL,
  content_headers TEXT NOT NULL DEFAULT '{}',
  PRIMARY KEY (bucket, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS object_blobs (
  bucket TEXT NOT NULL, key TEXT NOT NULL, seq INTEGER NOT NULL, size INTEGER NOT NULL,
  file TEXT NOT NULL, PRIMARY KEY (bucket, key, seq)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS uploads (
  upload_id TEXT PRIMARY KEY, bucket TEXT NOT NULL, key TEXT NOT NULL,
  initiated_ms INTEGER NOT NULL, content_type TEXT NOT NULL, user_meta TEXT NOT NULL,
  content_headers TEXT NOT NULL DEFAULT '{}');
CREATE TABLE IF NOT EXISTS parts (
  upload_id TEXT NOT NULL, part_number INTEGER NOT NULL, size INTEGER NOT NULL,
  etag TEXT NOT NULL, crc64 INTEGER NOT NULL, last_modified_ms INTEGER NOT NULL,
  file TEXT NOT NULL, PRIMARY KEY (upload_id, part_number)) WITHOUT ROWID;
)SQL";

// PRAGMA user_version of the schema above. 0: before objects and uploads kept
// their standard headers (content_headers).
constexpr int kSchemaVersion = 1;

// Prepared statements kept for reuse, by connection and SQL text: preparing
// (parsing) the SQL again for every request cost more server time than the
// lookups themselves. A statement is taken out while in use, so a nested use
// of the same SQL prepares its own, and is put back reset.
class StatementCache {
public:
    static sqlite3_stmt* Take(sqlite3* db, const std::string& sql) {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = free_.find({db, sql});
        if (it == free_.end()) return nullptr;
        sqlite3_stmt* st = it->second;
        free_.erase(it);
        return st;
    }
    static void Give(sqlite3* db, std::string sql, sqlite3_stmt* st) {
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        std::lock_guard<std::mutex> lock(mu_);
        if (!free_.emplace(std::make_pair(db, std::move(sql)), st).second) sqlite3_finalize(st);
    }
    // Before the connection closes.
    static void Drop(sqlite3* db) {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = free_.begin(); it != free_.end();) {
            if (it->first.first != db) {
                ++it;
                continue;
            }
            sqlite3_finalize(it->second);
            it = free_.erase(it);
        }
    }

private:
    static inline std::mutex mu_;
    static inline std::map<std::pair<sqlite3*, std::string>, sqlite3_stmt*> free_;
};

// One prepared statement; binds by position (1-based), steps, goes back to
// the cache.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
        st_ = StatementCache::Take(db, sql_);
        if (st_ == nullptr && sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("sqlite prepare: ") + sqlite3_errmsg(db));
    }
    ~Stmt() { StatementCache::Give(db_, std::move(sql_), st_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& Bind(int i, const std::string& s) {
        sqlite3_bind_text(st_, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, long long v) {
        sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& BindU64(int i, uint64_t v) {
        sqlite3_bind_int64(st_, i, static_cast<sqlite3_int64>(v));
        return *this;
    }
    // True while a row is available.
    bool Step() {
        int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("sqlite step: ") + sqlite3_errmsg(db_));
    }
    std::string Text(int col) const {
        const unsigned char* p = sqlite3_column_text(st_, col);
        int n = sqlite3_column_bytes(st_, col);
        return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : "";
    }
    long long Int(int col) const { return sqlite3_column_int64(st_, col); }
    uint64_t U64(int col) const { return static_cast<uint64_t>(sqlite3_column_int64(st_, col)); }

private:
    sqlite3* db_;
    std::string sql_;
    sqlite3_stmt* st_ = nullptr;
};

// BEGIN IMMEDIATE ... COMMIT, rolled back when an exception leaves the scope.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) { Run("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void Commit() {
        Run("COMMIT");
        done_ = true;
    }

private:
    void Run(const char* sql) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    bool done_ = false;
};

const char* kObjectColumns =
    "bucket, key, size, etag, crc64, last_modified_ms, content_type, type, user_meta, file, "
    "content_headers";

ObjectMeta ReadObject(const Stmt& s) {
    ObjectMeta m;
    m.bucket = s.Text(0);
    m.key = s.Text(1);
    m.size = s.Int(2);
    m.etag = s.Text(3);
    m.crc64 = s.U64(4);
    m.last_modified_ms = s.Int(5);
    m.content_type = s.Text(6);
    m.type = s.Text(7);
    m.user_meta = s.Text(8);
    std::string file = s.Text(9);
    if (!file.empty()) m.blobs.push_back({file, m.size});
    m.content_headers = s.Text(10);
    return m;
}

Record ReadRecord(const Stmt& s) {
    Record r;
    r.id = s.Int(0);
    r.name = s.Text(1);
    r.backup_name = s.Text(2);
    r.date_time = s.Text(3);
    r.file_path = s.Text(4);
    r.file_name = s.Text(5);
    r.file_size = s.Int(6);
    r.expire_time = s.Int(7);
    return r;
}

Part ReadPart(const Stmt& s) {
    Part p;
    p.part_number = static_cast<int>(s.Int(0));
    p.size = s.Int(1);
    p.etag = s.Text(2);
    p.crc64 = s.U64(3);
    p.last_modified_ms = s.Int(4);
    p.file = s.Text(5);
    return p;
}

// The blobs of an object of several, in order.
BlobList ObjectBlobListLocked(sqlite3* db, const std::string& bucket, const std::string& key) {
    Stmt q(db, "SELECT file, size FROM object_blobs WHERE bucket = ?1 AND key = ?2 ORDER BY seq");
    q.Bind(1, bucket).Bind(2, key);
    BlobList blobs;
    while (q.Step()) blobs.push_back({q.Text(0), q.Int(1)});
    return blobs;
}

std::string SelectObjectSql(const char* where) {
    return std::string("SELECT ") + kObjectColumns + " FROM objects " + where;
}

}  // namespace

Database::Database(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("cannot open database " + path + ": " + msg);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Migrate();
    } catch (...) {
        StatementCache::Drop(db_);
        sqlite3_close(db_);
        throw;
    }
}

Database::~Database() {
    StatementCache::Drop(db_);
    sqlite3_close(db_);
}

namespace {

bool HasColumn(sqlite3* db, const std::string& table, const std::string& column) {
    Stmt s(db, ("SELECT 1 FROM pragma_table_info('" + table + "') WHERE name = ?1").c_str());
    s.Bind(1, column);
    return s.Step();
}

}  // namespace

// A database of an earlier version gains what this one keeps, with the
// values its objects had implied; one of a later version is left alone.
void Database::Migrate() {
    long long version = 0;
    {
        Stmt v(db_, "PRAGMA user_version");
        if (v.Step()) version = v.Int(0);
    }
    if (version > kSchemaVersion)
        throw std::runtime_error(
            "the data directory was written by a newer nimbra-devserver (database schema " +
            std::to_string(version) + ", this one knows up to " + std::to_string(kSchemaVersion) +
            "): run that version, or give another --data-dir");
    if (version == kSchemaVersion) return;
    Transaction tx(db_);
    Exec(kSchema);
    for (const char* table : {"objects", "uploads"})
        if (!HasColumn(db_, table, "content_headers"))
            Exec((std::string("ALTER TABLE ") + table +
                  " ADD COLUMN content_headers TEXT NOT NULL DEFAULT '{}'")
                     .c_str());
    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    tx.Commit();
}

void Database::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw std::runtime_error("sqlite: " + msg);
    }
}

Record Database::InsertRecord(const Record& r) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "INSERT INTO records (name, backup_name, date_time, file_path, file_name, file_size, "
           "expire_time) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    s.Bind(1, r.name).Bind(2, r.backup_name).Bind(3, r.date_time).Bind(4, r.file_path);
    s.Bind(5, r.file_name).Bind(6, r.file_size).Bind(7, r.expire_time);
    s.Step();
    Record out = r;
    out.id = sqlite3_last_insert_rowid(db_);
    return out;
}

long long Database::UserSpace(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    // Summed here, not by SUM(), which fails with "integer overflow" once
    // the total passes 2^63 - 1; the total stops there instead.
    Stmt s(db_, "SELECT file_size FROM records WHERE name = ?1");
    s.Bind(1, name);
    long long total = 0;
    while (s.Step()) {
        if (__builtin_add_overflow(total, s.Int(0), &total))
            return std::numeric_limits<long long>::max();
    }
    return total;
}

long long Database::CountRecords(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT COUNT(*) FROM records WHERE name = ?1");
    s.Bind(1, name);
    return s.Step() ? s.Int(0) : 0;
}

std::vector<Record> Database::Records(const std::string& name, long long limit, long long offset) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "SELECT id, name, backup_name, date_time, file_path, file_name, file_size, "
           "expire_time FROM records WHERE name = ?1 ORDER BY id DESC LIMIT ?2 OFFSET ?3");
    s.Bind(1, name).Bind(2, limit).Bind(3, offset);
    std::vector<Record> out;
    while (s.Step()) out.push_back(ReadRecord(s));
    return out;
}

long long Database::DeleteRecords(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "DELETE FROM records WHERE name = ?1");
    s.Bind(1, name);
    s.Step();
    return sqlite3_changes(db_);
}

void Database::InsertCredential(const Credential& c) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "INSERT INTO credentials (access_key_id, access_key_secret, security_token, "
           "expires_at) VALUES (?1, ?2, ?3, ?4)");
    s.Bind(1, c.access_key_id).Bind(2, c.access_key_secret).Bind(3, c.security_token);
    s.Bind(4, static_cast<long long>(c.expires_at));
    s.Step();
}

bool Database::FindCredential(const std::string& access_key_id, Credential& out) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "SELECT access_key_id, access_key_secret, security_token, expires_at FROM "
           "credentials WHERE access_key_id = ?1");
    s.Bind(1, access_key_id);
    if (!s.Step()) return false;
    out.access_key_id = s.Text(0);
    out.access_key_secret = s.Text(1);
    out.security_token = s.Text(2);
    out.expires_at = s.Int(3);
    return true;
}

void Database::ExpireAllCredentials(int64_t now_seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE credentials SET expires_at = ?1 WHERE expires_at > ?1");
    s.Bind(1, static_cast<long long>(now_seconds));
    s.Step();
}

bool Database::BucketExists(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT 1 FROM buckets WHERE name = ?1");
    s.Bind(1, name);
    return s.Step();
}

void Database::CreateBucket(const std::string& name, int64_t now_ms) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT OR IGNORE INTO buckets (name, created_ms) VALUES (?1, ?2)");
    s.Bind(1, name).Bind(2, static_cast<long long>(now_ms));
    s.Step();
}

bool Database::GetObject(const std::string& bucket, const std::string& key, ObjectMeta& out) {
    return GetObject(bucket, key, out, nullptr);
}

bool Database::GetObject(const std::string& bucket, const std::string& key, ObjectMeta& out,
                         const std::function<void(const ObjectMeta&)>& pin) {
    std::lock_guard<std::mutex> lock(mu_);
    {
        Stmt s(db_, SelectObjectSql("WHERE bucket = ?1 AND key = ?2").c_str());
        s.Bind(1, bucket).Bind(2, key);
        if (!s.Step()) return false;
        out = ReadObject(s);
    }
    if (out.blobs.empty()) out.blobs = ObjectBlobListLocked(db_, bucket, key);
    if (pin) pin(out);
    return true;
}

namespace {

// The blobs of a stored object, with its record left in place.
BlobList ObjectBlobsLocked(sqlite3* db, const std::string& bucket, const std::string& key) {
    Stmt q(db, "SELECT file, size FROM objects WHERE bucket = ?1 AND key = ?2");
    q.Bind(1, bucket).Bind(2, key);
    if (!q.Step()) return {};
    if (!q.Text(0).empty()) return {{q.Text(0), q.Int(1)}};
    return ObjectBlobListLocked(db, bucket, key);
}

// Drops the object's records; returns its blobs.
BlobList RemoveObjectLocked(sqlite3* db, const std::string& bucket, const std::string& key) {
    BlobList old = ObjectBlobsLocked(db, bucket, key);
    Stmt d1(db, "DELETE FROM objects WHERE bucket = ?1 AND key = ?2");
    d1.Bind(1, bucket).Bind(2, key);
    d1.Step();
    Stmt d2(db, "DELETE FROM object_blobs WHERE bucket = ?1 AND key = ?2");
    d2.Bind(1, bucket).Bind(2, key);
    d2.Step();
    return old;
}

// Stores the object in place of any other under its key; returns the blobs
// the replaced object held and the new one does not.
BlobList ReplaceObjectLocked(sqlite3* db, const ObjectMeta& m, bool keep_existing) {
    if (keep_existing) {
        Stmt q(db, "SELECT 1 FROM objects WHERE bucket = ?1 AND key = ?2");
        q.Bind(1, m.bucket).Bind(2, m.key);
        if (q.Step()) throw ObjectExists();
    }
    BlobList old = RemoveObjectLocked(db, m.bucket, m.key);
    // A single blob is named in the object's record, several (in order) in
    // object_blobs.
    const bool single = m.blobs.size() == 1;
    Stmt s(db,
           "INSERT INTO objects (bucket, key, size, etag, crc64, last_modified_ms, content_type, "
           "type, user_meta, file, content_headers) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
           "?10, ?11)");
    s.Bind(1, m.bucket).Bind(2, m.key).Bind(3, m.size).Bind(4, m.etag).BindU64(5, m.crc64);
    s.Bind(6, static_cast<long long>(m.last_modified_ms)).Bind(7, m.content_type).Bind(8, m.type);
    s.Bind(9, m.user_meta).Bind(10, single ? m.blobs[0].name : std::string());
    s.Bind(11, m.content_headers);
    s.Step();
    if (!single) {
        long long seq = 0;
        for (const BlobRef& b : m.blobs) {
            Stmt p(db,
                   "INSERT INTO object_blobs (bucket, key, seq, size, file) VALUES (?1, ?2, ?3, "
                   "?4, ?5)");
            p.Bind(1, m.bucket).Bind(2, m.key).Bind(3, ++seq).Bind(4, b.size).Bind(5, b.name);
            p.Step();
        }
    }
    BlobList released;
    for (const BlobRef& b : old) {
        bool kept = std::any_of(m.blobs.begin(), m.blobs.end(),
                                [&](const BlobRef& n) { return n.name == b.name; });
        if (!kept) released.push_back(b);
    }
    return released;
}

}  // namespace

BlobList Database::PutObject(const ObjectMeta& meta, bool keep_existing) {
    std::lock_guard<std::mutex> lock(mu_);
    Transaction tx(db_);
    BlobList old = ReplaceObjectLocked(db_, meta, keep_existing);
    tx.Commit();
    return old;
}

BlobList Database::DeleteObject(const std::string& bucket, const std::string& key) {
    std::lock_guard<std::mutex> lock(mu_);
    Transaction tx(db_);
    BlobList old = RemoveObjectLocked(db_, bucket, key);
    tx.Commit();
    return old;
}

std::vector<ObjectMeta> Database::ObjectsFrom(const std::string& bucket, const std::string& from,
                                              bool inclusive, int limit) {
    std::lock_guard<std::mutex> lock(mu_);
    std::string sql =
        SelectObjectSql(inclusive ? "WHERE bucket = ?1 AND key >= ?2 ORDER BY key LIMIT ?3"
                                  : "WHERE bucket = ?1 AND key > ?2 ORDER BY key LIMIT ?3");
    Stmt s(db_, sql.c_str());
    s.Bind(1, bucket).Bind(2, from).Bind(3, static_cast<long long>(limit));
    std::vector<ObjectMeta> out;
    while (s.Step()) out.push_back(ReadObject(s));
    return out;
}

void Database::CreateUpload(const Upload& u) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "INSERT INTO uploads (upload_id, bucket, key, initiated_ms, content_type, user_meta, "
           "content_headers) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    s.Bind(1, u.upload_id).Bind(2, u.bucket).Bind(3, u.key);
    s.Bind(4, static_cast<long long>(u.initiated_ms)).Bind(5, u.content_type).Bind(6, u.user_meta);
    s.Bind(7, u.content_headers);
    s.Step();
}

bool Database::GetUpload(const std::string& upload_id, Upload& out) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           "SELECT upload_id, bucket, key, initiated_ms, content_type, user_meta, content_headers "
           "FROM uploads WHERE upload_id = ?1");
    s.Bind(1, upload_id);
    if (!s.Step()) return false;
    out.upload_id = s.Text(0);
    out.bucket = s.Text(1);
    out.key = s.Text(2);
    out.initiated_ms = s.Int(3);
    out.content_type = s.Text(4);
    out.user_meta = s.Text(5);
    out.content_headers = s.Text(6);
    return true;
}

std::string Database::PutPart(const std::string& upload_id, const Part& p) {
    std::lock_guard<std::mutex> lock(mu_);
    Transaction tx(db_);
    {
        Stmt u(db_, "SELECT 1 FROM uploads WHERE upload_id = ?1");
        u.Bind(1, upload_id);
        if (!u.Step()) throw std::out_of_range("no such upload");
    }
    std::string old;
    {
        Stmt q(db_, "SELECT file FROM parts WHERE upload_id = ?1 AND part_number = ?2");
        q.Bind(1, upload_id).Bind(2, static_cast<long long>(p.part_number));
        if (q.Step()) old = q.Text(0);
    }
    Stmt s(db_,
           "INSERT OR REPLACE INTO parts (upload_id, part_number, size, etag, crc64, "
           "last_modified_ms, file) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    s.Bind(1, upload_id).Bind(2, static_cast<long long>(p.part_number)).Bind(3, p.size);
    s.Bind(4, p.etag).BindU64(5, p.crc64).Bind(6, static_cast<long long>(p.last_modified_ms));
    s.Bind(7, p.file);
    s.Step();
    tx.Commit();
    return old;
}

namespace {

std::vector<Part> PartsLocked(sqlite3* db, const std::string& upload_id, int after_part,
                              int limit) {
    Stmt s(db,
           "SELECT part_number, size, etag, crc64, last_modified_ms, file FROM parts WHERE "
           "upload_id = ?1 AND part_number > ?2 ORDER BY part_number LIMIT ?3");
    s.Bind(1, upload_id).Bind(2, static_cast<long long>(after_part));
    s.Bind(3, static_cast<long long>(limit));
    std::vector<Part> out;
    while (s.Step()) out.push_back(ReadPart(s));
    return out;
}

}  // namespace

std::vector<Part> Database::Parts(const std::string& upload_id, int after_part, int limit) {
    std::lock_guard<std::mutex> lock(mu_);
    return PartsLocked(db_, upload_id, after_part, limit);
}

void Database::Parts(const std::string& upload_id,
                     const std::function<void(const std::vector<Part>&)>& pin) {
    std::lock_guard<std::mutex> lock(mu_);
    pin(PartsLocked(db_, upload_id, 0, std::numeric_limits<int>::max()));
}

BlobList Database::CompleteUpload(const std::string& upload_id, const ObjectMeta& meta,
                                  const std::vector<Part>& used, bool keep_existing) {
    std::lock_guard<std::mutex> lock(mu_);
    Transaction tx(db_);
    {
        Stmt u(db_, "SELECT 1 FROM uploads WHERE upload_id = ?1");
        u.Bind(1, upload_id);
        if (!u.Step()) throw std::out_of_range("no such upload");
    }
    // A part sent again since the caller read the list no longer holds the
    // bytes the object was made of.
    for (const Part& p : used) {
        Stmt q(db_, "SELECT file FROM parts WHERE upload_id = ?1 AND part_number = ?2");
        q.Bind(1, upload_id).Bind(2, static_cast<long long>(p.part_number));
        if (!q.Step() || q.Text(0) != p.file) throw PartChanged();
    }
    BlobList old = ReplaceObjectLocked(db_, meta, keep_existing);
    Stmt d1(db_, "DELETE FROM parts WHERE upload_id = ?1");
    d1.Bind(1, upload_id);
    d1.Step();
    Stmt d2(db_, "DELETE FROM uploads WHERE upload_id = ?1");
    d2.Bind(1, upload_id);
    d2.Step();
    tx.Commit();
    return old;
}

std::vector<Part> Database::AbortUpload(const std::string& upload_id) {
    std::lock_guard<std::mutex> lock(mu_);
    Transaction tx(db_);
    std::vector<Part> parts;
    {
        Stmt s(db_,
               "SELECT part_number, size, etag, crc64, last_modified_ms, file FROM parts WHERE "
               "upload_id = ?1");
        s.Bind(1, upload_id);
        while (s.Step()) parts.push_back(ReadPart(s));
    }
    Stmt d1(db_, "DELETE FROM parts WHERE upload_id = ?1");
    d1.Bind(1, upload_id);
    d1.Step();
    Stmt d2(db_, "DELETE FROM uploads WHERE upload_id = ?1");
    d2.Bind(1, upload_id);
    d2.Step();
    tx.Commit();
    return parts;
}

std::unordered_set<std::string> Database::NamedBlobs(BlobKind kind) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_,
           kind == BlobKind::kPart
               ? "SELECT file FROM parts"
               : "SELECT file FROM objects WHERE file <> '' UNION SELECT file FROM object_blobs");
    std::unordered_set<std::string> names;
    while (s.Step()) names.insert(s.Text(0));
    return names;
}

}  // namespace devserver
