// A host program for the memory check: loads libNimbra.so as a host links
// it and runs one full backup cycle against the web API and store at the
// compiled-in addresses: upload, listing, download (compared with the
// source), record, records, used space, deletion. Exits 0 when every step
// did what it should, 2 otherwise (naming the step on stderr).
//
//   valgrind_cycle_host WORK_DIR
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace {

class Callback : public IOssCallback {
public:
    void OnProgress(int nResult, int nPercent, void* pData) override {
        if (nPercent == 100) {
            ++finals;
            last_result = nResult;
        }
        if (pData && pages) {
            for (const _ST_RemotePathInfo& e :
                 *static_cast<std::vector<_ST_RemotePathInfo>*>(pData))
                names.push_back(e.szPathName);
        }
        if (pData && records) ++record_count;
    }
    bool pages = false;
    bool records = false;
    int finals = 0;
    int last_result = -99;
    int record_count = 0;
    std::vector<std::string> names;
};

int Fail(const char* step) {
    std::fprintf(stderr, "cycle: %s failed\n", step);
    return 2;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: valgrind_cycle_host WORK_DIR");
    const std::string dir = argv[1];
    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    if (manager == nullptr) return Fail("InitOssManager");

    // Two parts and a half: 1 MiB ranges on the way back.
    std::string data(2 * 1024 * 1024 + 12345, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    const std::string source = dir + "/source.bin";
    std::ofstream(source, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
    const char* key = "leakcheck/cycle.bin";

    Callback up;
    if (!manager->UploadFile(source.c_str(), static_cast<long long>(data.size()), key, &up) ||
        up.finals != 1 || up.last_result != 0)
        return Fail("upload");

    Callback list;
    list.pages = true;
    if (!manager->ListRemotePath("leakcheck/", &list, nullptr) || list.finals != 1 ||
        list.names != std::vector<std::string>{"cycle.bin"})
        return Fail("listing");

    Callback down;
    const std::string copy = dir + "/copy.bin";
    if (!manager->DownloadFile(key, copy.c_str(), &down) || down.finals != 1 ||
        ReadAll(copy) != data)
        return Fail("download");

    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.szName, "leakcheck");
    std::strcpy(info.szBackupName, "cycle");
    std::strcpy(info.szFilePath, key);
    info.llFileSize = static_cast<long long>(data.size());
    if (!manager->InsertUserInfo(info)) return Fail("record");

    Callback records;
    records.records = true;
    if (!manager->GetUserUploadInfo("leakcheck", &records) || records.record_count != 1)
        return Fail("records");
    if (manager->GetUserUsedSize("leakcheck") != static_cast<long long>(data.size()))
        return Fail("used space");

    if (!manager->DeleteRemoteFile("leakcheck", key)) return Fail("deletion");
    Callback after;
    after.pages = true;
    if (!manager->ListRemotePath("leakcheck/", &after, nullptr) || !after.names.empty())
        return Fail("listing after deletion");
    return 0;
}
