// Pause, resume and stop while a library call blocks the main thread.
//
// A second thread waits for keys on the terminal (p pauses, r resumes,
// s stops) and for interrupts: the SIGINT/SIGTERM/SIGHUP handler only writes
// one byte into a pipe, and this thread turns it into a stop request. A
// second Ctrl-C (or Ctrl-\) restores the terminal and exits at once.
#ifndef NIMBRA_CLI_CONTROL_H
#define NIMBRA_CLI_CONTROL_H

#include <atomic>
#include <functional>
#include <thread>

#include "Terminal.h"

namespace cli {

class ProgressDisplay;

struct ControlActions {
    std::function<void()> stop;   // required
    std::function<void()> pause;  // empty: keys are not read
    std::function<void()> resume;
    ProgressDisplay* display = nullptr;  // notes and pause marks; may be null
};

class ControlThread {
public:
    explicit ControlThread(ControlActions actions);
    ~ControlThread();  // joins the thread, restores signal handlers and terminal
    ControlThread(const ControlThread&) = delete;
    ControlThread& operator=(const ControlThread&) = delete;

    // True once a stop was requested by key or signal.
    bool stop_requested() const { return stop_requested_.load(); }
    // True when p/r/s are read from the terminal.
    bool keys_active() const { return keys_; }

private:
    void Run();
    void RequestStop(const char* why);

    ControlActions actions_;
    RawTerminal terminal_;
    bool keys_ = false;
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::atomic<bool> stop_requested_{false};
    std::thread thread_;
};

}  // namespace cli

#endif  // NIMBRA_CLI_CONTROL_H
