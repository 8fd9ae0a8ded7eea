// A fresh temporary directory, removed with everything in it on scope exit.
#ifndef TESTS_SUPPORT_TEMPDIR_H
#define TESTS_SUPPORT_TEMPDIR_H

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes `data` to `path`, replacing it. Returns false on any error.
bool WriteFileBytes(const std::string& path, const std::string& data);
// Reads the whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

#endif  // TESTS_SUPPORT_TEMPDIR_H
