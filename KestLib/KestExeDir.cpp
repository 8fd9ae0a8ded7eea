// Platform seam of PathGetExeDirA: where the host application's bundle lies.
#include "KestLib/KestInternal.h"

#ifdef __APPLE__

#include <CoreFoundation/CoreFoundation.h>

#include <memory>

namespace KestLib {

namespace {
struct CFReleaser {
    void operator()(CFTypeRef p) const { CFRelease(p); }
};
using CFHolder = std::unique_ptr<const void, CFReleaser>;
}  // namespace

bool PlatformGetBundleDir(std::string& strBundleDir) {
    CFBundleRef pBundle = CFBundleGetMainBundle();  // not owned
    if (pBundle == nullptr) return false;
    CFURLRef pUrl = CFBundleCopyBundleURL(pBundle);
    if (pUrl == nullptr) return false;
    CFHolder urlHolder(pUrl);
    CFStringRef pPath = CFURLCopyFileSystemPath(pUrl, kCFURLPOSIXPathStyle);
    if (pPath == nullptr) return false;
    CFHolder pathHolder(pPath);
    char szPath[260] = {0};
    // A path that does not fit is not handed out cut short.
    if (!CFStringGetCString(pPath, szPath, sizeof szPath, kCFStringEncodingUTF8)) return false;
    strBundleDir = szPath;
    return true;
}

}  // namespace KestLib

#else  // No application bundles: recognise an executable laid out as one.

#include <unistd.h>

#include <vector>

namespace KestLib {

namespace {
constexpr char kBundleTail[] = ".app/Contents/MacOS";
constexpr char kExecutableDir[] = "/Contents/MacOS";

bool ReadSelfExe(std::string& strExe) {
    std::vector<char> vecBuffer(4096);
    while (vecBuffer.size() <= (1u << 20)) {
        const ssize_t n = readlink("/proc/self/exe", vecBuffer.data(), vecBuffer.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < vecBuffer.size()) {
            strExe.assign(vecBuffer.data(), static_cast<size_t>(n));
            return true;
        }
        vecBuffer.resize(vecBuffer.size() * 2);
    }
    return false;
}

bool EndsWith(const std::string& strText, const std::string& strTail) {
    return strText.size() >= strTail.size() &&
           strText.compare(strText.size() - strTail.size(), strTail.size(), strTail) == 0;
}
}  // namespace

// The bundle "<X>.app" when the executable lies in "<X>.app/Contents/MacOS/".
bool PlatformGetBundleDir(std::string& strBundleDir) {
    std::string strExe;
    if (!ReadSelfExe(strExe) || strExe.empty() || strExe[0] != '/') return false;
    const size_t nSlash = strExe.rfind('/');
    const std::string strDir = strExe.substr(0, nSlash);
    const std::string strTail = kBundleTail;
    // The bundle's own name must not be empty ("/.app" is no bundle).
    if (!EndsWith(strDir, strTail) || strDir.size() == strTail.size() ||
        strDir[strDir.size() - strTail.size() - 1] == '/') {
        return false;
    }
    strBundleDir = strDir.substr(0, strDir.size() - (sizeof(kExecutableDir) - 1));
    return true;
}

}  // namespace KestLib

#endif
