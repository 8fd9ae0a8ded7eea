#include "ObjectFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include "BlobReaper.h"

namespace devserver {
namespace {

void MakeDir(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create directory " + path);
}

const char* Subdir(BlobKind kind) {
    return kind == BlobKind::kObject ? "objects" : "parts";
}

bool CopyFile(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            off += w;
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) unlink(to.c_str());
    return ok;
}

}  // namespace

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("RAND_bytes failed");
    static const char* kDigits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::string HexUpper(const std::string& raw) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

BlobStore::BlobStore(const std::string& root) : root_(root) {
    MakeDir(root_ + "/objects");
    MakeDir(root_ + "/parts");
    MakeDir(root_ + "/tmp");
    // Temporary files of writes that never finished, and released blobs not
    // deleted yet, belong to nobody.
    if (DIR* d = opendir((root_ + "/tmp").c_str())) {
        while (struct dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") unlink((root_ + "/tmp/" + n).c_str());
        }
        closedir(d);
    }
    reaper_ = std::make_unique<BlobReaper>();
}

BlobStore::~BlobStore() = default;

std::string BlobStore::Path(BlobKind kind, const std::string& name) const {
    return root_ + "/" + Subdir(kind) + "/" + name;
}

std::string BlobStore::TempPath() const {
    return root_ + "/tmp/" + RandomHex(16);
}

bool BlobStore::Publish(const std::string& temp_path, BlobKind kind, std::string& name) const {
    std::string candidate = RandomHex(16);
    if (rename(temp_path.c_str(), Path(kind, candidate).c_str()) != 0) return false;
    name = candidate;
    return true;
}

bool BlobStore::LinkOrCopy(const std::string& source_path, std::string& name) const {
    std::string candidate = RandomHex(16);
    std::string target = Path(BlobKind::kObject, candidate);
    if (link(source_path.c_str(), target.c_str()) != 0) {
        // Different file system or no hard links: copy through tmp/.
        std::string temp = TempPath();
        if (!CopyFile(source_path, temp)) return false;
        if (rename(temp.c_str(), target.c_str()) != 0) {
            unlink(temp.c_str());
            return false;
        }
    }
    name = candidate;
    return true;
}

bool BlobStore::Duplicate(const BlobList& source, BlobList& copy) const {
    copy.clear();
    for (const BlobRef& blob : source) {
        BlobRef twin = blob;
        if (!LinkOrCopy(Path(blob), twin.name)) {
            Release(copy);
            copy.clear();
            return false;
        }
        copy.push_back(twin);
    }
    return true;
}

bool BlobStore::AdoptPart(const std::string& part_name, std::string& name) const {
    return LinkOrCopy(Path(BlobKind::kPart, part_name), name);
}

void BlobStore::Remove(BlobKind kind, const std::string& name) const {
    if (name.empty()) return;
    std::string trash = root_ + "/tmp/" + name;
    if (rename(Path(kind, name).c_str(), trash.c_str()) == 0)
        reaper_->Unlink(trash);
    else
        unlink(Path(kind, name).c_str());
}

void BlobStore::Release(const BlobList& blobs) const {
    for (const BlobRef& blob : blobs) Remove(BlobKind::kObject, blob.name);
}

size_t BlobStore::Reclaim(BlobKind kind, const std::unordered_set<std::string>& named,
                          size_t& missing) const {
    size_t removed = 0, present = 0;
    const std::string dir = root_ + "/" + Subdir(kind);
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n == "." || n == "..") continue;
            if (named.count(n))
                ++present;
            else
                removed += unlink((dir + "/" + n).c_str()) == 0;
        }
        closedir(d);
    }
    missing = named.size() - present;
    return removed;
}

}  // namespace devserver
