// Set once when the server stops: waits that serve no request (a fault's
// delay) end early, so that stopping never waits for them.
#ifndef TOOLS_DEVSERVER_STOPSIGNAL_H
#define TOOLS_DEVSERVER_STOPSIGNAL_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace devserver {

class StopSignal {
public:
    void Raise() {
        std::lock_guard<std::mutex> lock(mu_);
        raised_ = true;
        cv_.notify_all();
    }
    // Waits `ms` milliseconds, or until the signal is raised.
    void SleepFor(int ms) {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_; });
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool raised_ = false;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_STOPSIGNAL_H
