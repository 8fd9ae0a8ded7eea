// Key-at-a-time input on the controlling terminal during a transfer.
#ifndef NIMBRA_CLI_TERMINAL_H
#define NIMBRA_CLI_TERMINAL_H

namespace cli {

// While alive, standard input (when it is a terminal and this process is in
// its foreground) delivers each key at once and without echo; signals
// (Ctrl-C) stay enabled. The previous mode is restored on destruction.
class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
};

// Puts the saved mode back, if a RawTerminal is alive. Async-signal-safe
// (tcsetattr only), for a signal handler that exits at once.
void RestoreTerminalFromSignal();

}  // namespace cli

#endif  // NIMBRA_CLI_TERMINAL_H
