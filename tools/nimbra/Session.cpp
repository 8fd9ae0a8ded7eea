#include "Session.h"

#include "Control.h"
#include "Log.h"
#include "ProgressDisplay.h"

namespace cli {

Session::Session(IOssManager& manager) : manager_(manager), runner_(manager, *this) {}

Session::~Session() = default;

hostkit::JobOutcome Session::Transfer(hostkit::JobKind kind, const std::string& key,
                                      const std::string& path, long long size,
                                      ProgressDisplay& display) {
    display_ = &display;
    const hostkit::JobOutcome outcome = Run(true, [&] {
        if (kind == hostkit::JobKind::kUpload) {
            runner_.Upload(path, size, key);
        } else {
            runner_.Download(key, size, path);
        }
    });
    display.Finish();
    display_ = nullptr;
    return outcome;
}

hostkit::JobOutcome Session::List(
    const std::string& prefix,
    std::function<void(const std::vector<hostkit::ListEntry>&)> on_page) {
    on_page_ = std::move(on_page);
    const hostkit::JobOutcome outcome = Run(false, [&] { runner_.List(prefix); });
    on_page_ = nullptr;
    return outcome;
}

hostkit::JobOutcome Session::Run(bool keys, const std::function<void()>& queue) {
    ForgetLibraryLines();
    {
        std::lock_guard<std::mutex> lock(pending_mutex_);
        pending_stop_ = pending_pause_ = false;
    }
    ControlActions actions;
    actions.stop = [this] { Stop(); };
    if (keys) {
        actions.pause = [this] { Pause(true); };
        actions.resume = [this] { Pause(false); };
    }
    actions.display = display_;
    {
        // Keys and Ctrl-C reach the job from before it starts.
        OperationControl control(std::move(actions));
        queue();
        runner_.WaitIdle();
    }
    return outcome_;
}

void Session::Stop() {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    if (!runner_.Stop()) pending_stop_ = true;
}

void Session::Pause(bool paused) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    if (!(paused ? runner_.Pause() : runner_.Resume())) pending_pause_ = paused;
}

// The runner calls this once the job runs, so its controls now reach it.
void Session::JobStarted(hostkit::JobId, hostkit::JobKind) {
    std::lock_guard<std::mutex> lock(pending_mutex_);
    if (pending_stop_) runner_.Stop();
    if (pending_pause_ && !pending_stop_) runner_.Pause();
    pending_stop_ = pending_pause_ = false;
}

void Session::JobProgress(hostkit::JobId, long long bytes, long long) {
    if (display_ != nullptr) display_->Update(bytes);
}

void Session::JobPage(hostkit::JobId, const std::vector<hostkit::ListEntry>& page) {
    if (on_page_) on_page_(page);
}

void Session::JobFinished(hostkit::JobId, const hostkit::JobOutcome& outcome) {
    outcome_ = outcome;
}

}  // namespace cli
