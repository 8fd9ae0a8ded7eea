// nimbra-bench-host: one upload or download through libNimbra's exported
// entry point, the way a host application calls it.
//
//   nimbra-bench-host upload LOCAL_PATH OBJECT_KEY
//   nimbra-bench-host download OBJECT_KEY LOCAL_PATH
//
// Prints one JSON line on stdout: {"ok":true,"result":0,"seconds":1.234,"bytes":N}
// where seconds covers the library call alone (credentials included) and
// bytes is the local file's size afterwards. Exit status 0 only on success.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "Nimbra/Nimbra.h"

namespace {

// Keeps the final notification; progress in between is only counted.
class FinalResult : public IOssCallback {
public:
    void OnProgress(int result, int percent, void*) override {
        ++notifications;
        if (percent == 100) {
            final_seen = true;
            final_result = result;
        }
    }
    bool final_seen = false;
    int final_result = -1;
    long notifications = 0;
};

long long FileSize(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: nimbra-bench-host upload LOCAL_PATH OBJECT_KEY\n"
                 "       nimbra-bench-host download OBJECT_KEY LOCAL_PATH\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return Usage();
    const bool upload = std::strcmp(argv[1], "upload") == 0;
    if (!upload && std::strcmp(argv[1], "download") != 0) return Usage();
    const char* local_path = upload ? argv[2] : argv[3];
    const char* object_key = upload ? argv[3] : argv[2];

    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    if (manager == nullptr) {
        std::fprintf(stderr, "nimbra-bench-host: InitOssManager gave no manager\n");
        return 1;
    }
    long long size = 0;
    if (upload) {
        size = FileSize(local_path);
        if (size < 0) {
            std::fprintf(stderr, "nimbra-bench-host: cannot stat %s\n", local_path);
            return 1;
        }
    }

    FinalResult callback;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = upload ? manager->UploadFile(local_path, size, object_key, &callback)
                           : manager->DownloadFile(object_key, local_path, &callback);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    const bool success = ok && callback.final_seen && callback.final_result == 0;
    std::printf("{\"ok\":%s,\"result\":%d,\"seconds\":%.6f,\"bytes\":%lld,\"notifications\":%ld}\n",
                success ? "true" : "false", callback.final_result, elapsed.count(),
                FileSize(local_path), callback.notifications);
    return success ? 0 : 1;
}
