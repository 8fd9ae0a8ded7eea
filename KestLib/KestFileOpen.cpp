// Opening a file as a C stream.
#include "KestLib/KestInternal.h"
#include "KestLib/KestLib.h"

namespace KestLib {

FILE* FileOpenA(std::string strPath, std::string strMode) {
    return fopen(strPath.c_str(), strMode.c_str());
}

FILE* FileOpenW(std::wstring strPath, std::wstring strMode) {
    std::string strNarrowPath, strNarrowMode;
    if (!StrCW2AExact(strPath, strNarrowPath) || !StrCW2AExact(strMode, strNarrowMode)) {
        return nullptr;
    }
    return FileOpenA(strNarrowPath, strNarrowMode);
}

}  // namespace KestLib
