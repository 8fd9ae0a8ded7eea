#include "Session.h"

#include "Control.h"
#include "Log.h"
#include "ProgressDisplay.h"

namespace cli {

Session::Session(IOssManager& manager) : manager_(manager), runner_(manager, *this) {}

Session::~Session() = default;

JobRun Session::Transfer(hostkit::JobKind kind, const std::string& key, const std::string& path,
                         long long size, ProgressDisplay& display) {
    display_ = &display;
    JobRun run = Run(true, [&] {
        if (kind == hostkit::JobKind::kUpload) {
            runner_.Upload(path, size, key);
        } else {
            runner_.Download(key, size, path);
        }
    });
    display.Finish();
    display_ = nullptr;
    return run;
}

JobRun Session::List(const std::string& prefix,
                     std::function<void(const std::vector<hostkit::ListEntry>&)> on_page) {
    on_page_ = std::move(on_page);
    JobRun run = Run(false, [&] { runner_.List(prefix); });
    on_page_ = nullptr;
    return run;
}

JobRun Session::Run(bool keys, const std::function<void()>& queue) {
    ForgetLibraryLines();
    ControlActions actions;
    actions.stop = [this] { runner_.Stop(); };
    if (keys) {
        actions.pause = [this] { runner_.Pause(); };
        actions.resume = [this] { runner_.Resume(); };
    }
    actions.display = display_;
    JobRun run;
    {
        // Keys and Ctrl-C reach the job from before it starts.
        OperationControl control(std::move(actions));
        queue();
        runner_.WaitIdle();
        run.stop_asked = control.stop_requested();
    }
    run.outcome = outcome_;
    return run;
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
