#include "KestLib/KestLib.h"

namespace KestLib {

FILE* FileOpenA(std::string strPath, std::string strMode) {
    return fopen(strPath.c_str(), strMode.c_str());
}

}  // namespace KestLib
