// Reads a stretch of an object whose bytes may lie in several blobs (the parts
// of a completed multipart upload). Made while the object's metadata still
// names the blobs (inside Database::GetObject's `pin`), it holds them open, so
// an object replaced or deleted at any moment after its lookup is still read
// whole.
#ifndef TOOLS_DEVSERVER_OBJECTREADER_H
#define TOOLS_DEVSERVER_OBJECTREADER_H

#include <sys/types.h>

#include <vector>

#include "ObjectFiles.h"

namespace devserver {

// One stretch of an object as it lies in a blob: `length` bytes from `offset`
// of the open file `fd`, as pread or sendfile take them.
struct BlobPiece {
    int fd = -1;
    long long offset = 0;
    long long length = 0;
};

class ObjectReader {
public:
    // Opens the blobs that hold bytes [first, last] (inclusive) of the object.
    ObjectReader(const BlobStore& store, const BlobList& blobs, long long first, long long last);
    ~ObjectReader();
    ObjectReader(const ObjectReader&) = delete;
    ObjectReader& operator=(const ObjectReader&) = delete;

    // False when a blob could not be opened.
    bool ok() const { return ok_; }
    // Bytes [first, last] in order. The descriptors are the reader's: open as
    // long as it lives, closed with it.
    const std::vector<BlobPiece>& pieces() const { return pieces_; }
    // Reads up to `len` bytes at object offset `offset` (within [first, last]),
    // never across the end of a piece; like pread, 0 past the end, -1 on error.
    ssize_t ReadAt(long long offset, char* buf, size_t len) const;

private:
    std::vector<BlobPiece> pieces_;
    std::vector<long long> starts_;  // object offset of each piece's first byte
    bool ok_ = true;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_OBJECTREADER_H
