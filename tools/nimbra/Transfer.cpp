#include "Transfer.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "Control.h"
#include "Format.h"
#include "ProgressDisplay.h"
#include "Status.h"
#include "hostkit/SafeText.h"

namespace cli {
namespace {

using hostkit::SafeText;

std::string Summary(long long bytes, double seconds) {
    std::string text = FormatBytes(bytes);
    char when[64];
    std::snprintf(when, sizeof when, " in %.1f s", seconds);
    text += when;
    if (seconds > 0.05) text += " (" + FormatRate(static_cast<double>(bytes) / seconds) + ")";
    return text;
}

}  // namespace

int InspectLocalFile(const std::string& path, LocalFile& file) {
    const hostkit::FileStatus status = hostkit::InspectSource(path, file);
    if (status.error == ENODEV)
        return Fail(kExitFailed, status.text,
                    "To upload from a pipe, give '-' and send it on standard input.");
    return status.ok() ? kExitOk : Fail(kExitFailed, status.text);
}

int UploadWithProgress(Session& session, const LocalFile& file, const std::string& key) {
    ProgressDisplay display("upload", file.size, ChooseProgressMode());
    const hostkit::JobOutcome outcome =
        session.Transfer(hostkit::JobKind::kUpload, key, file.path, file.size, display);
    const std::string what = "upload of " + file.shown + " to " + key;
    switch (outcome.end) {
        case hostkit::JobOutcome::End::kDone:
            std::printf("uploaded %s to %s: %s\n", SafeText(file.shown).c_str(),
                        SafeText(key).c_str(), Summary(file.size, display.ActiveSeconds()).c_str());
            return kExitOk;
        case hostkit::JobOutcome::End::kStopped:
            return Fail(kExitStopped, what + " stopped; the object was not created",
                        "The parts sent so far stay on the store as an unfinished upload.");
        default:
            return FailCall(what + " failed", outcome.result);
    }
}

int DownloadWithProgress(Session& session, const std::string& key, long long size,
                         const WriteTarget& target) {
    // The library writes a temporary file beside the target, unless it writes
    // into a device.
    const bool direct = target.file.kind == hostkit::FileTarget::Kind::kDirect;
    hostkit::PendingFile pending;
    std::optional<RemoveOnInterrupt> on_interrupt;
    if (!direct) {
        const hostkit::FileStatus status = pending.Open(target.file);
        if (!status.ok()) return Fail(kExitFailed, status.text);
        on_interrupt.emplace(pending.path());
    }

    ProgressDisplay display("download", size, ChooseProgressMode());
    const hostkit::JobOutcome outcome =
        session.Transfer(hostkit::JobKind::kDownload, key,
                         direct ? target.file.path : pending.path(), size, display);
    const std::string what = "download of " + key;
    const std::string& shown = target.file.shown;
    if (outcome.end == hostkit::JobOutcome::End::kStopped)
        return Fail(kExitStopped,
                    what + " stopped; " +
                        (direct ? "what was written so far stays" : shown + " was left as it was"));
    if (outcome.end == hostkit::JobOutcome::End::kFailed)
        return FailCall(what + " failed", outcome.result);
    // Short when the object was emptied or cut since it was listed.
    const long long written = direct ? outcome.bytes : pending.Size();
    if (written != size)
        return Fail(kExitFailed,
                    what + " ended after " + std::to_string(written) + " of " +
                        std::to_string(size) + " bytes",
                    "The object may have changed meanwhile; try again. " + LogHint());
    if (target.to_output_file) {
        if (int status = CopyToStandardOutput(pending.path())) return status;
    } else if (!direct) {
        const hostkit::FileStatus placed = pending.Place();
        if (placed.error == EEXIST) return RefuseExisting(target);
        if (!placed.ok()) return Fail(kExitFailed, placed.text);
    }
    // With the object on standard output, the summary goes to stderr.
    std::fprintf(shown == "-" ? stderr : stdout, "downloaded %s to %s: %s\n", SafeText(key).c_str(),
                 SafeText(shown).c_str(), Summary(size, display.ActiveSeconds()).c_str());
    return kExitOk;
}

}  // namespace cli
