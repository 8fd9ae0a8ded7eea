// Reads a stretch of an object whose bytes may lie in several blobs (the parts
// of a completed multipart upload). The blobs that hold the stretch are opened
// up front, so an object replaced or deleted while it is being sent is still
// read whole.
#ifndef TOOLS_DEVSERVER_OBJECTREADER_H
#define TOOLS_DEVSERVER_OBJECTREADER_H

#include <sys/types.h>

#include <vector>

#include "ObjectFiles.h"

namespace devserver {

class ObjectReader {
public:
    // Opens the blobs that hold bytes [first, last] (inclusive) of the object.
    ObjectReader(const BlobStore& store, const BlobList& blobs, long long first, long long last);
    ~ObjectReader();
    ObjectReader(const ObjectReader&) = delete;
    ObjectReader& operator=(const ObjectReader&) = delete;

    // False when a blob could not be opened.
    bool ok() const { return ok_; }
    // Reads up to `len` bytes at object offset `offset` (within [first, last]),
    // never across the end of a blob; like pread, 0 past the end, -1 on error.
    ssize_t ReadAt(long long offset, char* buf, size_t len) const;
    // When one blob holds bytes [first, last] of the object: a descriptor of
    // the caller's own for it, and the offset of `first` in it; else -1.
    int DupSpan(long long first, long long last, long long& offset) const;

private:
    struct Piece {
        long long start;  // object offset of the blob's first byte
        long long size;
        int fd;
    };
    std::vector<Piece> pieces_;
    bool ok_ = true;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_OBJECTREADER_H
