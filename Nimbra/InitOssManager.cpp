// The library's one C entry point.
#include "Nimbra/COssManager.h"
#include "Nimbra/Nimbra.h"

extern "C" NIMBRA_API void InitOssManager(IOssManager** ppManager) {
    if (ppManager == nullptr) return;
    *ppManager = COssManager::GetInstance();
}
