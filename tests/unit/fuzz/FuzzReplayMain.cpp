// Replays fuzz inputs without libFuzzer: every file named on the command
// line, or found in a directory named there, goes through the target once,
// so builds without the fuzzer runtime keep each corpus entry as a test.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void Collect(const std::string& path, std::vector<std::string>& files) {
    struct stat st;
    DIR* dir =
        stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? opendir(path.c_str()) : nullptr;
    if (dir == nullptr) {
        files.push_back(path);
        return;
    }
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') Collect(path + "/" + entry->d_name, files);
    closedir(dir);
}

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) Collect(argv[i], files);
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        // A copy of exactly the input's size, so reads past its end are caught.
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return files.empty() ? 1 : 0;
}
