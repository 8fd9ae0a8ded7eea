#include "BlobWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Crc64.h"

namespace devserver {
namespace {

constexpr size_t kStagingBytes = 1u << 20;
constexpr size_t kDirectAlign = 4096;  // buffer, offset and length unit of direct writes
constexpr size_t kDigestSlice = 64u << 10;
#ifdef O_DIRECT
constexpr int kDirectFlag = O_DIRECT;
#else
constexpr int kDirectFlag = 0;  // no direct I/O on this system: plain writes
#endif

}  // namespace

BlobWriter::BlobWriter(const BlobStore& store) : store_(store), temp_path_(store.TempPath()) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    fd_ = open(temp_path_.c_str(), flags | kDirectFlag, 0644);
    direct_ = fd_ >= 0 && kDirectFlag != 0;
    if (fd_ < 0 && errno == EINVAL) fd_ = open(temp_path_.c_str(), flags, 0644);
    md5_ = EVP_MD_CTX_new();
    if (!md5_ || EVP_DigestInit_ex(md5_, EVP_md5(), nullptr) != 1) failed_ = true;
}

BlobWriter::~BlobWriter() {
    if (fd_ >= 0) close(fd_);
    if (!published_) unlink(temp_path_.c_str());
    EVP_MD_CTX_free(md5_);
}

bool BlobWriter::Write(const char* data, size_t len) {
    if (!ok() || finished_) return false;
    size_ += static_cast<long long>(len);
    if (staged_ == 0 && direct_ && reinterpret_cast<uintptr_t>(data) % kDirectAlign == 0 &&
        len % kDirectAlign == 0) {
        // Whole aligned blocks go to the file as they are, without staging.
        for (size_t at = 0; at < len; at += kDigestSlice) {
            size_t n = std::min(kDigestSlice, len - at);
            EVP_DigestUpdate(md5_, data + at, n);
            crc_ = Crc64Update(crc_, data + at, n);
        }
        return WriteAll(data, len);
    }
    if (!staging_) {
        // Only bodies that arrive in other pieces need it.
        staging_.reset(static_cast<char*>(std::aligned_alloc(kDirectAlign, kStagingBytes)));
        if (!staging_) {
            failed_ = true;
            return false;
        }
    }
    while (len > 0) {
        size_t take = std::min({len, kDigestSlice, kStagingBytes - staged_});
        char* at = staging_.get() + staged_;
        std::memcpy(at, data, take);
        EVP_DigestUpdate(md5_, at, take);
        crc_ = Crc64Update(crc_, at, take);
        staged_ += take;
        data += take;
        len -= take;
        if (staged_ == kStagingBytes && !WriteStaged(false)) return false;
    }
    return true;
}

bool BlobWriter::WriteStaged(bool last) {
    const char* data = staging_.get();
    size_t len = staged_;
    staged_ = 0;
    if (direct_) {
        size_t whole = last ? len - len % kDirectAlign : len;
        if (!WriteAll(data, whole)) return false;
        data += whole;
        len -= whole;
        if (len > 0) StopDirectIo();  // the tail is not a whole block
    }
    return WriteAll(data, len);
}

bool BlobWriter::WriteAll(const char* data, size_t len) {
    while (len > 0) {
        ssize_t w = ::write(fd_, data, len);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EINVAL && direct_) {
            // The file system takes no direct writes of this shape.
            StopDirectIo();
            continue;
        }
        if (w <= 0) {
            failed_ = true;
            return false;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
    return true;
}

void BlobWriter::StopDirectIo() {
    direct_ = false;
    int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags & ~kDirectFlag) != 0) failed_ = true;
}

bool BlobWriter::Publish(BlobKind kind, std::string& name) {
    if (!finished_) Md5();
    if (!ok()) return false;
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        failed_ = true;
        return false;
    }
    if (!store_.Publish(temp_path_, kind, name)) return false;
    published_ = true;
    return true;
}

std::string BlobWriter::Md5() {
    if (!finished_ && ok()) WriteStaged(true);
    finished_ = true;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(md5_, digest, &n);
    return std::string(reinterpret_cast<char*>(digest), n);
}

}  // namespace devserver
