// Helpers shared by the KestLib tests.
#ifndef TESTS_KESTLIB_TESTUTIL_H
#define TESTS_KESTLIB_TESTUTIL_H

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

// Sets the C locale for the scope and restores the previous one.
class LocaleGuard {
public:
    explicit LocaleGuard(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        if (std::setlocale(LC_ALL, name) == nullptr) throw std::runtime_error("no such locale");
    }
    ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }
    LocaleGuard(const LocaleGuard&) = delete;
    LocaleGuard& operator=(const LocaleGuard&) = delete;

private:
    std::string saved_;
};

// Changes the working directory for the scope.
class CwdGuard {
public:
    explicit CwdGuard(const std::string& dir) {
        char buf[4096];
        if (getcwd(buf, sizeof buf) == nullptr || chdir(dir.c_str()) != 0) {
            throw std::runtime_error("chdir failed");
        }
        saved_ = buf;
    }
    ~CwdGuard() {
        if (chdir(saved_.c_str()) != 0) std::abort();
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

private:
    std::string saved_;
};

inline bool IsDir(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Names in a directory (without "." and ".."), sorted.
inline std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                names.push_back(e->d_name);
            }
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

#endif  // TESTS_KESTLIB_TESTUTIL_H
