// upload, download and backup.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "BuildInfo.h"
#include "Commands.h"
#include "Format.h"
#include "Log.h"
#include "Output.h"
#include "RemoteObjects.h"
#include "Status.h"
#include "Transfer.h"

namespace cli {
namespace {

// Record field widths, terminator excluded.
constexpr size_t kBackupMax = sizeof(_ST_UserInfo::szBackupName) - 1;
constexpr size_t kPathMax = sizeof(_ST_UserInfo::szFilePath) - 1;
constexpr size_t kFileNameMax = sizeof(_ST_UserInfo::szFileName) - 1;

template <size_t N>
void CopyField(char (&field)[N], const std::string& text) {
    const size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int RunUpload(IOssManager& manager, const UploadArgs& args) {
    LocalFile file;
    if (int status = InspectLocalFile(args.local, file)) return status;
    std::string key = args.key;
    if (!key.empty() && key.back() == '/') key += file.name;
    const std::string problem = KeyProblem(key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra upload --help'.");
    return UploadWithProgress(manager, file, key);
}

int RunDownload(IOssManager& manager, const DownloadArgs& args) {
    const std::string problem = KeyProblem(args.key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra download --help'.");
    std::string folder, name;
    SplitKey(args.key, folder, name);
    std::string target = args.local;
    if (IsFolder(target)) target += (target.back() == '/' ? "" : "/") + name;
    const std::string target_folder = FolderOf(target);
    if (!IsFolder(target_folder))
        return Fail(kExitFailed, "cannot write " + target + ": no folder " + target_folder);
    if (::access(target_folder.c_str(), W_OK) != 0)
        return Fail(kExitFailed, "cannot write in " + target_folder + ": " + std::strerror(errno));

    const Lookup lookup = FindObject(manager, args.key);
    if (lookup.state == Lookup::kFailed) {
        if (lookup.credentials) return FailCredentials("cannot look up " + args.key);
        return FailWithResult(lookup.result, "cannot look up " + args.key);
    }
    if (lookup.state == Lookup::kMissing)
        return Fail(kExitFailed, "no object " + args.key + " in bucket " + kBucket,
                    "See what is there with: nimbra ls " + (folder == "/" ? "" : folder));
    return DownloadWithProgress(manager, args.key, lookup.size, target);
}

int RunBackup(IOssManager& manager, const BackupArgs& args) {
    std::string problem = NameProblem("user name", args.user, kUserNameMax);
    if (problem.empty()) problem = NameProblem("backup name", args.backup, kBackupMax);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra backup --help'.");
    if (args.expire_days < 0 || args.expire_days > 365LL * 1000)
        return Fail(kExitUsage, "--expire-days must be from 0 to 365000",
                    "Try 'nimbra backup --help'.");

    LocalFile file;
    if (int status = InspectLocalFile(args.local, file)) return status;
    if (file.absolute.size() > kPathMax)
        return Fail(kExitFailed, "the path " + file.absolute + " is longer than " +
                                     std::to_string(kPathMax) + " bytes, too long for the record");
    if (file.name.size() > kFileNameMax)
        return Fail(kExitFailed, "the file name " + file.name + " is longer than " +
                                     std::to_string(kFileNameMax) +
                                     " bytes, too long for the record");
    const std::string key =
        args.key.empty() ? args.user + "/" + args.backup + "/" + file.name : args.key;
    problem = KeyProblem(key);
    if (!problem.empty()) return Fail(kExitUsage, problem, "Try 'nimbra backup --help'.");

    const time_t now = std::time(nullptr);
    if (int status = UploadWithProgress(manager, file, key)) return status;

    _ST_UserInfo info;
    std::memset(&info, 0, sizeof info);
    CopyField(info.szName, args.user);
    CopyField(info.szBackupName, args.backup);
    CopyField(info.szDateTime, FormatLocalTime(now, true));
    CopyField(info.szFilePath, file.absolute);
    CopyField(info.szFileName, file.name);
    info.llFileSize = file.size;
    info.llExpireTime = args.expire_days > 0 ? now + args.expire_days * 86400LL : 0;
    bool registered = false;
    {
        const StderrToLog quiet;  // the library's POST traces on stderr
        registered = manager.InsertUserInfo(info);
    }
    if (!registered)
        return Fail(kExitFailed,
                    key + " is stored, but the web API did not register the backup record",
                    "Run the same backup again to retry. " + NetworkHint());
    std::printf("registered backup '%s' of %s: %s, %s, %s\n", args.backup.c_str(),
                args.user.c_str(), file.name.c_str(), FormatBytes(file.size).c_str(),
                FieldText(info.szDateTime).c_str());
    return kExitOk;
}

}  // namespace cli
