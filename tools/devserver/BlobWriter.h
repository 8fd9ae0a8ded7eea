// Streams an upload's bytes into a new blob while computing its size, MD5 and
// CRC-64 in the same pass: each piece is copied into an aligned staging buffer
// and digested there while it is in cache, and the buffer goes to the file in
// 1 MiB direct writes. Direct I/O keeps uploads out of the page cache, whose
// fresh pages cost more CPU to fill than the MD5 of the same bytes; where the
// file system refuses it, plain writes take over.
#ifndef TOOLS_DEVSERVER_BLOBWRITER_H
#define TOOLS_DEVSERVER_BLOBWRITER_H

#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "ObjectFiles.h"

namespace devserver {

// Removes its temporary file on destruction unless it was published.
class BlobWriter {
public:
    explicit BlobWriter(const BlobStore& store);
    ~BlobWriter();
    BlobWriter(const BlobWriter&) = delete;
    BlobWriter& operator=(const BlobWriter&) = delete;

    bool ok() const { return fd_ >= 0 && !failed_; }
    bool Write(const char* data, size_t len);
    // Writes what is staged, closes the file and moves it into place; false on
    // any I/O error.
    bool Publish(BlobKind kind, std::string& name);

    long long size() const { return size_; }
    uint64_t crc64() const { return crc_; }
    // Finishes the digest: raw 16 bytes (call once, after the last Write).
    std::string Md5();

private:
    struct FreeDeleter {
        void operator()(char* p) const { std::free(p); }
    };
    // Writes the staged bytes; `last` allows a length that is not a whole
    // number of direct-I/O blocks.
    bool WriteStaged(bool last);
    bool WriteAll(const char* data, size_t len);
    void StopDirectIo();

    const BlobStore& store_;
    std::string temp_path_;
    int fd_ = -1;
    bool direct_ = false;
    bool failed_ = false;
    bool finished_ = false;
    bool published_ = false;
    long long size_ = 0;
    uint64_t crc_ = 0;
    EVP_MD_CTX* md5_ = nullptr;
    std::unique_ptr<char, FreeDeleter> staging_;  // made on first use
    size_t staged_ = 0;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_BLOBWRITER_H
