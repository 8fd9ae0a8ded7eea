// Object and part bytes as files under the data directory. New content is
// written to tmp/ and renamed into objects/ or parts/ only when complete, so a
// crash never leaves a half-written blob where metadata could point to it.
#ifndef TOOLS_DEVSERVER_OBJECTFILES_H
#define TOOLS_DEVSERVER_OBJECTFILES_H

#include <openssl/evp.h>

#include <cstdint>
#include <string>

namespace devserver {

enum class BlobKind { kObject, kPart };

// Random lower-case hex of `bytes` random bytes.
std::string RandomHex(size_t bytes);

class BlobStore {
public:
    // Creates the directories; removes leftovers of interrupted writes.
    explicit BlobStore(const std::string& root);

    std::string Path(BlobKind kind, const std::string& name) const;
    std::string TempPath() const;  // a fresh name under tmp/
    // Moves a finished temporary file into place under a new name.
    bool Publish(const std::string& temp_path, BlobKind kind, std::string& name) const;
    // A new object blob with the same bytes as `source` (hard link, else copy).
    bool Duplicate(const std::string& source_path, std::string& name) const;
    void Remove(BlobKind kind, const std::string& name) const;

private:
    std::string root_;
};

// Streams bytes into a temporary file while computing size, MD5 and CRC-64.
// Removes the file on destruction unless it was published.
class BlobWriter {
public:
    explicit BlobWriter(const BlobStore& store);
    ~BlobWriter();
    BlobWriter(const BlobWriter&) = delete;
    BlobWriter& operator=(const BlobWriter&) = delete;

    bool ok() const { return fd_ >= 0 && !failed_; }
    bool Write(const char* data, size_t len);
    // Closes the file and moves it into place; false on any I/O error.
    bool Publish(BlobKind kind, std::string& name);

    long long size() const { return size_; }
    uint64_t crc64() const { return crc_; }
    // Finishes the digest: raw 16 bytes (call once, after the last Write).
    std::string Md5();

private:
    const BlobStore& store_;
    std::string temp_path_;
    int fd_ = -1;
    bool failed_ = false;
    bool published_ = false;
    long long size_ = 0;
    uint64_t crc_ = 0;
    EVP_MD_CTX* md5_ = nullptr;
};

// Upper-case hex of raw bytes.
std::string HexUpper(const std::string& raw);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_OBJECTFILES_H
