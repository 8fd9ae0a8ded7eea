#include "ObjectReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace devserver {

ObjectReader::ObjectReader(const BlobStore& store, const BlobList& blobs, long long first,
                           long long last) {
    long long start = 0;
    for (const BlobRef& blob : blobs) {
        long long end = start + blob.size;  // exclusive
        if (blob.size > 0 && end > first && start <= last) {
            int fd = open(store.Path(blob).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                ok_ = false;
                break;
            }
            pieces_.push_back({start, blob.size, fd});
        }
        start = end;
    }
}

ObjectReader::~ObjectReader() {
    for (const Piece& p : pieces_) close(p.fd);
}

ssize_t ObjectReader::ReadAt(long long offset, char* buf, size_t len) const {
    // The last piece that starts at or before `offset`.
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                               [](long long at, const Piece& p) { return at < p.start; });
    if (it == pieces_.begin()) return 0;
    --it;
    long long inside = offset - it->start;
    if (inside >= it->size) return 0;
    size_t n =
        static_cast<size_t>(std::min<long long>(static_cast<long long>(len), it->size - inside));
    return pread(it->fd, buf, n, static_cast<off_t>(inside));
}

int ObjectReader::DupSpan(long long first, long long last, long long& offset) const {
    for (const Piece& p : pieces_) {
        if (first < p.start || last >= p.start + p.size) continue;
        offset = first - p.start;
        return fcntl(p.fd, F_DUPFD_CLOEXEC, 0);
    }
    return -1;
}

}  // namespace devserver
