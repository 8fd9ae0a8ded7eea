// cpp-httplib 0.11 reads a request body of known length 4 KiB at a time, with
// a poll before every read: three system calls per 4 KiB once the store writes
// each piece too, most of the server's time on a large upload. This definition
// takes the place of the library's exported reading loop (ELF symbol
// interposition, like decode_url in RawHeaders.cpp) and does the same with
// reads of up to 1 MiB, so a content receiver sees the body in large pieces.
#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace httplib {
namespace detail {

bool read_content_with_length(Stream& strm, uint64_t len, Progress progress,
                              ContentReceiverWithProgress out);

__attribute__((visibility("default"))) bool read_content_with_length(
    Stream& strm, uint64_t len, Progress progress, ContentReceiverWithProgress out) {
    constexpr uint64_t kMaxRead = 1u << 20;
    if (len == 0) return true;
    const size_t capacity = static_cast<size_t>(std::min(len, kMaxRead));
    std::unique_ptr<char[]> buf(new char[capacity]);
    uint64_t received = 0;
    while (received < len) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(len - received, capacity));
        ssize_t n = strm.read(buf.get(), want);
        if (n <= 0) return false;
        if (!out(buf.get(), static_cast<size_t>(n), received, len)) return false;
        received += static_cast<uint64_t>(n);
        if (progress && !progress(received, len)) return false;
    }
    return true;
}

}  // namespace detail
}  // namespace httplib
