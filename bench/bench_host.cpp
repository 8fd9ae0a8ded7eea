// nimbra-bench-host: one upload or download through libNimbra's exported
// entry point, the way a host application calls it.
//
//   nimbra-bench-host upload LOCAL_PATH OBJECT_KEY
//   nimbra-bench-host download OBJECT_KEY LOCAL_PATH
//
// Prints one JSON line on stdout: {"ok":true,"result":0,"seconds":1.234,"bytes":N,...}
// where seconds covers the library call alone (credentials included) and
// bytes is the local file's size afterwards. An upload also gives the time
// to its 20 % report (credentials, initiation) and to its 95 % report (all
// parts sent and listed); the rest is the completion. Exit status 0 only on
// success.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "Nimbra/Nimbra.h"

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the final notification and when the 20 % and 95 % reports came;
// progress in between is only counted.
class FinalResult : public IOssCallback {
public:
    void OnProgress(int result, int percent, void*) override {
        ++notifications;
        if (result == 0 && percent == 20 && at20 == Clock::time_point()) at20 = Clock::now();
        if (result == 0 && percent == 95) at95 = Clock::now();
        if (percent == 100) {
            final_seen = true;
            final_result = result;
        }
    }
    bool final_seen = false;
    int final_result = -1;
    long notifications = 0;
    Clock::time_point at20, at95;
};

// Seconds from start to t, or -1 when t never came.
double Since(Clock::time_point start, Clock::time_point t) {
    return t == Clock::time_point() ? -1.0 : std::chrono::duration<double>(t - start).count();
}

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
    const auto start = Clock::now();
    const bool ok = upload ? manager->UploadFile(local_path, size, object_key, &callback)
                           : manager->DownloadFile(object_key, local_path, &callback);
    const double elapsed = Since(start, Clock::now());

    const bool success = ok && callback.final_seen && callback.final_result == 0;
    std::printf("{\"ok\":%s,\"result\":%d,\"seconds\":%.6f,\"bytes\":%lld,\"notifications\":%ld",
                success ? "true" : "false", callback.final_result, elapsed, FileSize(local_path),
                callback.notifications);
    if (upload)
        std::printf(",\"at20\":%.6f,\"at95\":%.6f", Since(start, callback.at20),
                    Since(start, callback.at95));
    std::printf("}\n");
    return success ? 0 : 1;
}
