// Object and part bytes as files under the data directory. New content is
// written to tmp/ and renamed into objects/ or parts/ only when complete, so a
// crash never leaves a half-written blob where metadata could point to it. An
// object's bytes are one object blob or, for one completed from a multipart
// upload, its parts' blobs in order, linked over from parts/ as they are.
#ifndef TOOLS_DEVSERVER_OBJECTFILES_H
#define TOOLS_DEVSERVER_OBJECTFILES_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace devserver {

class BlobReaper;

enum class BlobKind { kObject, kPart };

// One object blob and its length.
struct BlobRef {
    std::string name;
    long long size = 0;
};
using BlobList = std::vector<BlobRef>;

// Random lower-case hex of `bytes` random bytes.
std::string RandomHex(size_t bytes);

class BlobStore {
public:
    // Creates the directories; removes leftovers of interrupted writes.
    explicit BlobStore(const std::string& root);
    ~BlobStore();

    std::string Path(BlobKind kind, const std::string& name) const;
    std::string Path(const BlobRef& blob) const { return Path(BlobKind::kObject, blob.name); }
    std::string TempPath() const;  // a fresh name under tmp/
    // Moves a finished temporary file into place under a new name.
    bool Publish(const std::string& temp_path, BlobKind kind, std::string& name) const;
    // New object blobs with the same bytes (hard links, else copies); on
    // failure none is left behind.
    bool Duplicate(const BlobList& source, BlobList& copy) const;
    // A new object blob with the bytes of a part blob, which stays in place.
    bool AdoptPart(const std::string& part_name, std::string& name) const;
    // Takes a blob out of its directory at once (into tmp/, which a start
    // clears); its space is freed in the background.
    void Remove(BlobKind kind, const std::string& name) const;
    void Release(const BlobList& blobs) const;  // Remove for each object blob

    // For a start, before any request: deletes the files of `kind` that
    // `named` does not list (left by a crash between a blob's move into place
    // and its commit, or between a commit and the removal of what it
    // replaced). Returns how many were deleted; `missing` counts the names in
    // `named` without a file.
    size_t Reclaim(BlobKind kind, const std::unordered_set<std::string>& named,
                   size_t& missing) const;

private:
    // A new object blob name for the bytes at `source_path`.
    bool LinkOrCopy(const std::string& source_path, std::string& name) const;

    std::string root_;
    std::unique_ptr<BlobReaper> reaper_;
};

// Upper-case hex of raw bytes.
std::string HexUpper(const std::string& raw);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_OBJECTFILES_H
