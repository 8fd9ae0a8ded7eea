#include "Control.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "ProgressDisplay.h"

namespace cli {
namespace {

// Shared with the signal handler: only sig_atomic_t and a descriptor.
volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_wake_fd = -1;

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
struct sigaction g_previous_quit;

void WriteAll(int fd, const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    while (length > 0) {
        const ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void ExitNow(int sig) {
    RestoreTerminalFromSignal();
    WriteAll(STDERR_FILENO, "\nnimbra: interrupted, exiting at once\n");
    _exit(128 + sig);
}

// Async-signal-safe: counts, wakes the control thread, or exits.
void OnStopSignal(int sig) {
    const int saved_errno = errno;
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 2) ExitNow(sig);
    const int fd = g_wake_fd;
    if (fd >= 0) {
        const char byte = 'i';
        ssize_t ignored = write(fd, &byte, 1);
        (void)ignored;
    }
    errno = saved_errno;
}

void OnQuitSignal(int sig) {
    ExitNow(sig);
}

}  // namespace

ControlThread::ControlThread(ControlActions actions) : actions_(std::move(actions)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
    wake_read_ = fds[0];
    wake_write_ = fds[1];
    keys_ = actions_.pause && terminal_.active();
    if (actions_.display != nullptr) actions_.display->ShowKeys(keys_);

    g_interrupts = 0;
    g_wake_fd = wake_write_;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
    struct sigaction quit {};
    quit.sa_handler = OnQuitSignal;
    sigemptyset(&quit.sa_mask);
    sigaction(SIGQUIT, &quit, &g_previous_quit);

    thread_ = std::thread(&ControlThread::Run, this);
}

ControlThread::~ControlThread() {
    const char byte = 'q';
    ssize_t ignored = write(wake_write_, &byte, 1);
    (void)ignored;
    thread_.join();
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
    sigaction(SIGQUIT, &g_previous_quit, nullptr);
    g_wake_fd = -1;
    close(wake_read_);
    close(wake_write_);
    // terminal_ restores the terminal mode as it is destroyed.
}

void ControlThread::RequestStop(const char* why) {
    if (stop_requested_.exchange(true)) return;
    if (actions_.display != nullptr) actions_.display->Note(why);
    actions_.stop();
}

void ControlThread::Run() {
    bool read_keys = keys_;
    for (;;) {
        pollfd fds[2] = {{wake_read_, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int n = poll(fds, read_keys ? 2 : 1, 500);
        if (n < 0 && errno != EINTR) return;
        if (actions_.display != nullptr) actions_.display->Tick();
        if (n <= 0) continue;
        if (fds[0].revents & POLLIN) {
            char bytes[16];
            const ssize_t got = read(wake_read_, bytes, sizeof bytes);
            for (ssize_t i = 0; i < got; ++i) {
                if (bytes[i] == 'q') return;
                if (bytes[i] == 'i') RequestStop("stopping (Ctrl-C again to exit at once)...");
            }
        }
        if (read_keys && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char keys[16];
            const ssize_t got = read(STDIN_FILENO, keys, sizeof keys);
            if (got <= 0) {
                read_keys = false;  // end of input: signals still work
                continue;
            }
            for (ssize_t i = 0; i < got; ++i) {
                switch (keys[i]) {
                    case 'p':
                    case 'P':
                        if (stop_requested_) break;
                        actions_.pause();
                        if (actions_.display != nullptr) actions_.display->SetPaused(true);
                        break;
                    case 'r':
                    case 'R':
                        if (stop_requested_) break;
                        actions_.resume();
                        if (actions_.display != nullptr) actions_.display->SetPaused(false);
                        break;
                    case 's':
                    case 'S':
                        RequestStop("stopping...");
                        break;
                    default:
                        break;
                }
            }
        }
    }
}

}  // namespace cli
