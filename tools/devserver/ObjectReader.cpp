#include "ObjectReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace devserver {

ObjectReader::ObjectReader(const BlobStore& store, const BlobList& blobs, long long first,
                           long long last) {
    // Room first, so that no descriptor is open while a push could throw.
    pieces_.reserve(blobs.size());
    starts_.reserve(blobs.size());
    long long start = 0;
    for (const BlobRef& blob : blobs) {
        const long long end = start + blob.size;  // exclusive
        const long long from = std::max(first, start), to = std::min(last + 1, end);
        if (from < to) {
            int fd = open(store.Path(blob).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                ok_ = false;
                break;
            }
            pieces_.push_back({fd, from - start, to - from});
            starts_.push_back(from);
        }
        start = end;
    }
}

ObjectReader::~ObjectReader() {
    for (const BlobPiece& p : pieces_) close(p.fd);
}

ssize_t ObjectReader::ReadAt(long long offset, char* buf, size_t len) const {
    // The last piece that starts at or before `offset`.
    const size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                         starts_.begin());
    if (i == 0) return 0;
    const BlobPiece& p = pieces_[i - 1];
    const long long inside = offset - starts_[i - 1];
    if (inside >= p.length) return 0;
    const size_t n =
        static_cast<size_t>(std::min<long long>(static_cast<long long>(len), p.length - inside));
    return pread(p.fd, buf, n, static_cast<off_t>(p.offset + inside));
}

}  // namespace devserver
