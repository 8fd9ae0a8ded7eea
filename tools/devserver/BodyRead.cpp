// cpp-httplib 0.11 reads a request body of known length 4 KiB at a time, with
// a poll before every read: three system calls per 4 KiB once the store writes
// each piece too, most of the server's time on a large upload. This definition
// takes the place of the library's exported reading loop (ELF symbol
// interposition, like decode_url in RawHeaders.cpp) and hands the content
// receiver whole 1 MiB pieces (the last one shorter) in a page-aligned buffer,
// which the store can write to disk with direct I/O as they are. The buffer
// stays with the connection's thread: fresh pages cost this machine more to
// fill than the bytes they carry, and a multipart upload sends many bodies
// over one connection.
#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace httplib {
namespace detail {

bool read_content_with_length(Stream& strm, uint64_t len, Progress progress,
                              ContentReceiverWithProgress out);

__attribute__((visibility("default"))) bool read_content_with_length(
    Stream& strm, uint64_t len, Progress progress, ContentReceiverWithProgress out) {
    constexpr uint64_t kPiece = 1u << 20;
    constexpr size_t kPage = 4096;
    if (len == 0) return true;
    thread_local std::unique_ptr<char, decltype(&std::free)> buf(
        static_cast<char*>(std::aligned_alloc(kPage, kPiece)), &std::free);
    if (!buf) return false;
    uint64_t received = 0;
    while (received < len) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(len - received, kPiece));
        for (size_t filled = 0; filled < want;) {
            ssize_t n = strm.read(buf.get() + filled, want - filled);
            if (n <= 0) return false;
            filled += static_cast<size_t>(n);
        }
        if (!out(buf.get(), want, received, len)) return false;
        received += want;
        if (progress && !progress(received, len)) return false;
    }
    return true;
}

}  // namespace detail
}  // namespace httplib
