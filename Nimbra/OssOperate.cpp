// Store operations: the pause/stop poll and the result maps. The request
// operations are not wired to the store layer yet; until then each one
// fails without touching the store.
#include "Nimbra/OssOperate.h"

#include <chrono>
#include <thread>

#include "Nimbra/ControlFlags.h"

bool CheckPauseAndStop() {
    if (gbIsNeedStopEx.load()) return true;
    while (gbIsNeedPause.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (gbIsNeedStopEx.load()) return true;
    }
    return false;
}

int DownloadResultOf(int nStatusCode) {
    switch (nStatusCode) {
        case -995:
        case -992:
        case -990:
        case -986:
            return 1;
        default:
            return -1;
    }
}

int TransferResultOf(int nStatusCode) {
    switch (nStatusCode) {
        case -996:
        case -995:
        case -992:
        case -990:
        case -989:
        case -988:
        case -987:
        case -986:
            return 1;
        default:
            return -1;
    }
}

namespace {
void ReportFailure(IOssCallback* pCallback) {
    if (pCallback) pCallback->OnProgress(-1, 100, nullptr);
}
}  // namespace

bool CreateBucket(const char*, const char*, const char*, const char*, const char*) {
    return false;
}

bool UploadFile(const char*, const char*, const char*, const char*, const char*, const char*,
                const char*) {
    return false;
}

bool CopyObject(const char*, const char*, const char*, const char*, const char*, const char*,
                const char*, const char*) {
    return false;
}

bool DeleteObject(const char*, const char*, const char*, const char*, const char*, const char*) {
    return false;
}

bool DownloadFile(const char*, const char*, const char*, const char*, const char*, const char*,
                  const char*, IOssCallback* pCallback) {
    ReportFailure(pCallback);
    return false;
}

bool ListObject(const char*, const char*, const char*, const char*, const char*, const char*,
                IOssCallback* pCallback, bool*) {
    ReportFailure(pCallback);
    return false;
}

bool MultiUploadFile(const char*, const char*, const char*, const char*, const char*, const char*,
                     const char*, long long, IOssCallback* pCallback) {
    ReportFailure(pCallback);
    return false;
}
