// The smallest host: gets the manager and calls the exported utilities.
#include <KestLib/KestLib.h>
#include <Nimbra/Nimbra.h>
#include <Nimbra/NimbraConfig.h>

#include <cstdio>

int main() {
    IOssManager* manager = nullptr;
    IOssManager* again = nullptr;
    InitOssManager(&manager);
    InitOssManager(&again);
    const std::string name = KestLib::PathGetNameA("/backups/photo.jpg");
    std::printf("nimbra %s: manager %s, name %s\n", NIMBRA_VERSION,
                manager != nullptr && manager == again ? "ok" : "missing", name.c_str());
    // A null user name is refused without a request.
    return manager != nullptr && manager == again && name == "photo.jpg" &&
                   manager->GetUserUsedSize(nullptr) == 0
               ? 0
               : 1;
}
