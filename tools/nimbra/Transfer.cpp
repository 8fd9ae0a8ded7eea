#include "Transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Callbacks.h"
#include "Control.h"
#include "Format.h"
#include "ProgressDisplay.h"
#include "RemoteObjects.h"
#include "Status.h"

namespace cli {
namespace {

// The library completes an upload from one listing of at most 1000 parts.
constexpr long long kMaxUploadSize = 1000 * TransferCallback::kUploadPartSize;

std::string Summary(long long bytes, double seconds) {
    std::string text = FormatBytes(bytes);
    char when[64];
    std::snprintf(when, sizeof when, " in %.1f s", seconds);
    text += when;
    if (seconds > 0.05) text += " (" + FormatRate(static_cast<double>(bytes) / seconds) + ")";
    return text;
}

// Removes a file on every exit unless released.
class FileRemover {
public:
    explicit FileRemover(std::string path) : path_(std::move(path)) {}
    ~FileRemover() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// What a transfer reported and whether the user stopped it.
struct TransferRun {
    bool ok = false;
    bool stopped = false;
};

template <typename Call>
TransferRun RunControlled(IOssManager& manager, ProgressDisplay& display, Call call) {
    TransferRun run;
    {
        ControlActions actions;
        actions.stop = [&manager] { manager.Stop(); };
        actions.pause = [&manager] { manager.PauseDownload(); };
        actions.resume = [&manager] { manager.ContinueDownload(); };
        actions.display = &display;
        ControlThread control(std::move(actions));
        run.ok = call();
        run.stopped = control.stop_requested();
    }
    // A pause pressed after the last poll must not outlive the transfer.
    manager.ContinueDownload();
    display.Finish();
    return run;
}

}  // namespace

int InspectLocalFile(const std::string& path, LocalFile& file) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Fail(kExitFailed, "cannot read " + path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return Fail(kExitFailed, path + " is a folder; give one file");
    if (!S_ISREG(info.st_mode)) return Fail(kExitFailed, path + " is not a regular file");
    if (::access(path.c_str(), R_OK) != 0)
        return Fail(kExitFailed, "cannot read " + path + ": " + std::strerror(errno));
    if (info.st_size == 0)
        return Fail(kExitFailed,
                    path + " is empty; the store's multipart upload needs at least one byte");
    if (info.st_size > kMaxUploadSize)
        return Fail(kExitFailed, path + " is " + FormatBytes(info.st_size) +
                                     "; uploads are limited to " + FormatBytes(kMaxUploadSize) +
                                     " (1000 parts of 10 MiB)");
    file.path = path;
    file.size = info.st_size;
    char* resolved = ::realpath(path.c_str(), nullptr);
    file.absolute = resolved != nullptr ? resolved : path;
    std::free(resolved);
    const size_t slash = file.absolute.rfind('/');
    file.name = slash == std::string::npos ? file.absolute : file.absolute.substr(slash + 1);
    return kExitOk;
}

int UploadWithProgress(IOssManager& manager, const LocalFile& file, const std::string& key) {
    ProgressDisplay display("upload", file.size, ChooseProgressMode());
    TransferCallback callback(TransferCallback::Direction::kUpload, file.size, &display);
    const TransferRun run = RunControlled(manager, display, [&] {
        return manager.UploadFile(file.path.c_str(), file.size, key.c_str(), &callback);
    });
    const std::string what = "upload of " + file.path + " to " + key;
    if (run.ok) {
        std::printf("uploaded %s to %s: %s\n", file.path.c_str(), key.c_str(),
                    Summary(file.size, display.ElapsedSeconds()).c_str());
        return kExitOk;
    }
    const Outcome& outcome = callback.outcome();
    if (!outcome.ended) return FailCredentials(what + " failed");
    if (outcome.result == 0 && run.stopped)
        return Fail(kExitStopped, what + " stopped; the object was not created",
                    "The parts sent so far stay on the store as an unfinished upload.");
    return FailWithResult(outcome.result, what + " failed");
}

int DownloadWithProgress(IOssManager& manager, const std::string& key, long long size,
                         const std::string& target) {
    // A fresh temporary file in the target's folder, so the rename is atomic.
    std::string temp = target + ".nimbra-XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0)
        return Fail(kExitFailed,
                    "cannot create a file beside " + target + ": " + std::strerror(errno));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    FileRemover remover(temp);

    ProgressDisplay display("download", size, ChooseProgressMode());
    TransferCallback callback(TransferCallback::Direction::kDownload, size, &display);
    const TransferRun run = RunControlled(manager, display, [&] {
        return manager.DownloadFile(key.c_str(), temp.c_str(), &callback);
    });
    const std::string what = "download of " + key;
    if (!run.ok) {
        const Outcome& outcome = callback.outcome();
        if (!outcome.ended) return FailCredentials(what + " failed");
        return FailWithResult(outcome.result, what + " failed");
    }
    struct stat info {};
    const long long written = ::stat(temp.c_str(), &info) == 0 ? info.st_size : -1;
    if (written != size) {
        if (run.stopped)
            return Fail(kExitStopped, what + " stopped; " + target + " was left as it was");
        return Fail(kExitFailed,
                    what + " ended after " + std::to_string(written) + " of " +
                        std::to_string(size) + " bytes",
                    "The object may have changed meanwhile; try again. " + LogHint());
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0)
        return Fail(kExitFailed, "cannot write " + target + ": " + std::strerror(errno));
    remover.Release();
    std::printf("downloaded %s to %s: %s\n", key.c_str(), target.c_str(),
                Summary(size, display.ElapsedSeconds()).c_str());
    return kExitOk;
}

}  // namespace cli
