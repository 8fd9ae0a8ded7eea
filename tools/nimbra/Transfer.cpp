#include "Transfer.h"

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
#include "Log.h"
#include "ProgressDisplay.h"
#include "Status.h"

namespace cli {
namespace {

std::string Summary(long long bytes, double seconds) {
    std::string text = FormatBytes(bytes);
    char when[64];
    std::snprintf(when, sizeof when, " in %.1f s", seconds);
    text += when;
    if (seconds > 0.05) text += " (" + FormatRate(static_cast<double>(bytes) / seconds) + ")";
    return text;
}

// What a transfer reported and whether the user stopped it.
struct TransferRun {
    bool ok = false;
    bool stopped = false;
};

template <typename Call>
TransferRun RunControlled(IOssManager& manager, ProgressDisplay& display, Call call) {
    TransferRun run;
    ForgetLibraryLines();
    {
        ControlActions actions;
        actions.stop = [&manager] { manager.Stop(); };
        actions.pause = [&manager] { manager.PauseDownload(); };
        actions.resume = [&manager] { manager.ContinueDownload(); };
        actions.display = &display;
        OperationControl control(std::move(actions));
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
    if (file.shown.empty()) file.shown = path;
    const std::string& shown = file.shown;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Fail(kExitFailed, "cannot read " + shown + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return Fail(kExitFailed, shown + " is a folder; give one file");
    if (!S_ISREG(info.st_mode))
        return Fail(kExitFailed, shown + " is not a regular file",
                    "To upload from a pipe, give '-' and send it on standard input.");
    if (::access(path.c_str(), R_OK) != 0)
        return Fail(kExitFailed, "cannot read " + shown + ": " + std::strerror(errno));
    if (info.st_size == 0)
        return Fail(kExitFailed,
                    shown + " is empty; the store's multipart upload needs at least one byte");
    if (info.st_size > kMaxUploadSize)
        return Fail(kExitFailed, shown + " is " + FormatBytes(info.st_size) +
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
    const std::string what = "upload of " + file.shown + " to " + key;
    if (run.ok) {
        std::printf("uploaded %s to %s: %s\n", SafeText(file.shown).c_str(), SafeText(key).c_str(),
                    Summary(file.size, display.ActiveSeconds()).c_str());
        return kExitOk;
    }
    const Outcome& outcome = callback.outcome();
    if (outcome.ended && outcome.result == 0 && run.stopped)
        return Fail(kExitStopped, what + " stopped; the object was not created",
                    "The parts sent so far stay on the store as an unfinished upload.");
    return FailCall(what + " failed", outcome.ended ? outcome.result : 0);
}

int DownloadWithProgress(IOssManager& manager, const std::string& key, long long size,
                         const WriteTarget& target) {
    TempFile temp;
    std::string path = target.path;
    if (target.kind != WriteTarget::kDirect) {
        // A kReplace target's temporary file lies beside it, so that the
        // rename is atomic.
        if (int status = temp.Create(target.path)) return status;
        TakeModeOf(temp.fd(), target);
        temp.Close();
        path = temp.path();
    }

    ProgressDisplay display("download", size, ChooseProgressMode());
    TransferCallback callback(TransferCallback::Direction::kDownload, size, &display);
    const TransferRun run = RunControlled(manager, display, [&] {
        return manager.DownloadFile(key.c_str(), path.c_str(), &callback);
    });
    const std::string what = "download of " + key;
    const Outcome& outcome = callback.outcome();
    if (!run.ok) return FailCall(what + " failed", outcome.ended ? outcome.result : 0);
    const bool replace = target.kind != WriteTarget::kDirect;
    long long written = callback.bytes();
    struct stat info {};
    if (replace) written = ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
    if (written != size) {
        if (run.stopped)
            return Fail(kExitStopped, what + " stopped; " +
                                          (replace ? target.shown + " was left as it was"
                                                   : "what was written so far stays"));
        return Fail(kExitFailed,
                    what + " ended after " + std::to_string(written) + " of " +
                        std::to_string(size) + " bytes",
                    "The object may have changed meanwhile; try again. " + LogHint());
    }
    if (target.kind == WriteTarget::kAppendToOutput) {
        if (int status = CopyToStandardOutput(path)) return status;
    } else if (target.kind == WriteTarget::kCreate) {
        const int error = PlaceNew(path, target.path);
        if (error == EEXIST)
            return Fail(kExitFailed, target.shown + " exists; nothing was restored",
                        target.overwrite_hint);
        if (error != 0)
            return Fail(kExitFailed, "cannot write " + target.shown + ": " + std::strerror(error));
        temp.Keep();
    } else if (replace) {
        if (std::rename(path.c_str(), target.path.c_str()) != 0)
            return Fail(kExitFailed, "cannot write " + target.shown + ": " + std::strerror(errno));
        temp.Keep();
    }
    // With the object on standard output, the summary goes to stderr.
    std::fprintf(target.shown == "-" ? stderr : stdout, "downloaded %s to %s: %s\n",
                 SafeText(key).c_str(), SafeText(target.shown).c_str(),
                 Summary(size, display.ActiveSeconds()).c_str());
    return kExitOk;
}

}  // namespace cli
