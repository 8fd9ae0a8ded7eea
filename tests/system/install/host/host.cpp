// The smallest host: gets the manager and calls an exported utility.
#include <KestLib/KestLib.h>
#include <Nimbra/Nimbra.h>
#include <Nimbra/NimbraConfig.h>

#include <cstdio>

int main() {
    IOssManager* manager = nullptr;
    InitOssManager(&manager);
    const std::string name = KestLib::PathGetNameA("/backups/photo.jpg");
    std::printf("nimbra %s: name %s\n", NIMBRA_VERSION, name.c_str());
    // A null user name is refused without a request.
    const bool ok = manager && name == "photo.jpg" && manager->GetUserUsedSize(nullptr) == 0;
    return ok ? 0 : 1;
}
