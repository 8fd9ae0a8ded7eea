// Ctrl-C, the stop signals and the transfer keys, for the whole command.
//
// The signal handler (SIGINT, SIGTERM, SIGHUP) only counts and wakes a
// control thread through a pipe. The first interrupt asks the running
// operation to stop, through the library's flags or a listing's stop request
// (OperationControl). When nothing can be stopped that way, when the
// operation has not ended a second later (a library call blocked on the
// network does not look at the flags), or on a second interrupt, the process
// exits at once with 128 + the signal (130 for Ctrl-C), after removing the
// files registered with RemoveOnInterrupt and restoring the terminal.
// SIGQUIT (Ctrl-\) always exits at once.
#ifndef NIMBRA_CLI_CONTROL_H
#define NIMBRA_CLI_CONTROL_H

#include <functional>
#include <optional>
#include <string>

#include "Terminal.h"

namespace cli {

class ProgressDisplay;

// Installs the handlers and starts the control thread; one for a command's
// life. Without one, the signals keep their default action.
class InterruptHandling {
public:
    InterruptHandling();
    ~InterruptHandling();
    InterruptHandling(const InterruptHandling&) = delete;
    InterruptHandling& operator=(const InterruptHandling&) = delete;
};

struct ControlActions {
    std::function<void()> stop;   // required
    std::function<void()> pause;  // empty: keys are not read
    std::function<void()> resume;
    ProgressDisplay* display = nullptr;  // notes, pause marks and redraws; may be null
};

// While alive, an interrupt stops this operation; with `pause` set and a
// terminal on standard input, the keys p, r and s pause, resume and stop it.
class OperationControl {
public:
    explicit OperationControl(ControlActions actions);
    ~OperationControl();
    OperationControl(const OperationControl&) = delete;
    OperationControl& operator=(const OperationControl&) = delete;

private:
    std::optional<RawTerminal> terminal_;  // while the keys are read
};

// While alive, `path` is removed should the process exit on an interrupt
// (the owner removes it on every other exit).
class RemoveOnInterrupt {
public:
    explicit RemoveOnInterrupt(const std::string& path);
    ~RemoveOnInterrupt();
    RemoveOnInterrupt(const RemoveOnInterrupt&) = delete;
    RemoveOnInterrupt& operator=(const RemoveOnInterrupt&) = delete;

private:
    int slot_ = -1;
};

}  // namespace cli

#endif  // NIMBRA_CLI_CONTROL_H
