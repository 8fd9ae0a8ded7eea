#include "Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace cli {
namespace {

// The mode to restore; g_saved_valid is set only after g_saved is complete,
// so a signal handler never reads a half-written copy.
termios g_saved{};
volatile sig_atomic_t g_saved_valid = 0;

}  // namespace

RawTerminal::RawTerminal() {
    if (!isatty(STDIN_FILENO)) return;
    // A background job must not touch the terminal (SIGTTOU/SIGTTIN).
    if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) != 0) return;
    g_saved = mode;
    g_saved_valid = 1;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0) {
        g_saved_valid = 0;
        return;
    }
    active_ = true;
}

RawTerminal::~RawTerminal() {
    if (!active_) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    g_saved_valid = 0;
}

void RestoreTerminalFromSignal() {
    if (g_saved_valid) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
}

}  // namespace cli
