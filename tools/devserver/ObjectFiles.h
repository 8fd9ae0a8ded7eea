// Object and part bytes as files under the data directory. New content is
// written to tmp/ and renamed into objects/ or parts/ only when complete, so a
// crash never leaves a half-written blob where metadata could point to it.
#ifndef TOOLS_DEVSERVER_OBJECTFILES_H
#define TOOLS_DEVSERVER_OBJECTFILES_H

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

// Upper-case hex of raw bytes.
std::string HexUpper(const std::string& raw);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_OBJECTFILES_H
