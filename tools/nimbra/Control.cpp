#include "Control.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ProgressDisplay.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStopGrace = std::chrono::seconds(1);

// Shared with the signal handler: sig_atomic_t values and fixed buffers only.
volatile sig_atomic_t g_interrupts = 0;
volatile sig_atomic_t g_wake_fd = -1;
constexpr int kCleanupSlots = 4;
char g_cleanup_paths[kCleanupSlots][PATH_MAX];
volatile sig_atomic_t g_cleanup_used[kCleanupSlots];

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

void WriteAll(int fd, const char* text) {
    size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// Async-signal-safe: removes the registered files, restores the terminal
// and ends the process.
[[noreturn]] void ExitNow(int sig) {
    for (int i = 0; i < kCleanupSlots; ++i) {
        if (g_cleanup_used[i]) unlink(g_cleanup_paths[i]);
    }
    RestoreTerminalFromSignal();
    WriteAll(STDERR_FILENO, "\nnimbra: interrupted\n");
    _exit(128 + sig);
}

void OnSignal(int sig) {
    const int saved_errno = errno;
    g_interrupts = g_interrupts + 1;
    const int fd = g_wake_fd;
    if (sig == SIGQUIT || g_interrupts >= 2 || fd < 0) ExitNow(sig);
    const char byte = static_cast<char>(sig);
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
    errno = saved_errno;
}

// What the control thread acts on; `current` is the running operation's.
struct Watch {
    std::mutex mutex;
    std::unique_ptr<ControlActions> current;
    bool keys = false;
    std::atomic<bool> stop_requested{false};
    bool deadline_set = false;
    Clock::time_point deadline;
    int deadline_signal = SIGINT;
    int wake_read = -1;
    int wake_write = -1;
    std::thread thread;
    struct sigaction previous[kSignalCount];
};
std::unique_ptr<Watch> g_watch;

void Wake(char byte) {
    if (g_watch == nullptr) return;
    ssize_t ignored = write(g_watch->wake_write, &byte, 1);
    (void)ignored;
}

// The first interrupt: stop the operation, or exit when there is none.
void OnInterrupt(Watch& w, int sig) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.current || w.stop_requested.exchange(true)) ExitNow(sig);
    if (w.current->display != nullptr)
        w.current->display->Note("stopping (Ctrl-C again to exit at once)...");
    w.current->stop();
    w.deadline_set = true;
    w.deadline = Clock::now() + kStopGrace;
    w.deadline_signal = sig;
}

void OnKeys(Watch& w, const char* keys, ssize_t count) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!w.current || !w.keys) return;
    const ControlActions& a = *w.current;
    for (ssize_t i = 0; i < count; ++i) {
        const char key = keys[i];
        if ((key == 'p' || key == 'P') && !w.stop_requested) {
            a.pause();
            if (a.display != nullptr) a.display->SetPaused(true);
        } else if ((key == 'r' || key == 'R') && !w.stop_requested) {
            a.resume();
            if (a.display != nullptr) a.display->SetPaused(false);
        } else if ((key == 's' || key == 'S') && !w.stop_requested.exchange(true)) {
            if (a.display != nullptr) a.display->Note("stopping...");
            a.stop();
        }
    }
}

void Run(Watch& w) {
    bool stdin_open = true;
    for (;;) {
        int timeout_ms = 500;
        bool keys = false;
        {
            std::lock_guard<std::mutex> lock(w.mutex);
            if (w.deadline_set) {
                const auto left = w.deadline - Clock::now();
                if (left <= Clock::duration::zero()) ExitNow(w.deadline_signal);
                timeout_ms =
                    static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
                if (timeout_ms > 500) timeout_ms = 500;
            }
            keys = w.keys && stdin_open;
            if (w.current && w.current->display != nullptr) w.current->display->Tick();
        }
        pollfd fds[2] = {{w.wake_read, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int n = poll(fds, keys ? 2 : 1, timeout_ms);
        if (n < 0 && errno != EINTR) return;
        if (n <= 0) continue;
        if (fds[0].revents & POLLIN) {
            char bytes[16];
            const ssize_t got = read(w.wake_read, bytes, sizeof bytes);
            for (ssize_t i = 0; i < got; ++i) {
                if (bytes[i] == 'q') return;
                if (bytes[i] != 'w') OnInterrupt(w, bytes[i]);
            }
        }
        if (keys && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char input[16];
            const ssize_t got = read(STDIN_FILENO, input, sizeof input);
            if (got <= 0) {
                stdin_open = false;  // end of input: signals still work
            } else {
                OnKeys(w, input, got);
            }
        }
    }
}

}  // namespace

InterruptHandling::InterruptHandling() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
    g_watch = std::make_unique<Watch>();
    g_watch->wake_read = fds[0];
    g_watch->wake_write = fds[1];
    g_interrupts = 0;
    g_wake_fd = fds[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &action, &g_watch->previous[i]);
    g_watch->thread = std::thread(Run, std::ref(*g_watch));
}

InterruptHandling::~InterruptHandling() {
    Wake('q');
    g_watch->thread.join();
    g_wake_fd = -1;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_watch->previous[i], nullptr);
    close(g_watch->wake_read);
    close(g_watch->wake_write);
    g_watch.reset();
}

OperationControl::OperationControl(ControlActions actions) {
    if (g_watch == nullptr) return;
    if (actions.pause) terminal_.emplace();
    std::lock_guard<std::mutex> lock(g_watch->mutex);
    g_watch->current = std::make_unique<ControlActions>(std::move(actions));
    g_watch->keys = terminal_ && terminal_->active();
    g_watch->stop_requested = false;
    if (g_watch->current->display != nullptr) g_watch->current->display->ShowKeys(g_watch->keys);
    Wake('w');  // the thread now watches the keys too
}

OperationControl::~OperationControl() {
    if (g_watch == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(g_watch->mutex);
        g_watch->current.reset();
        g_watch->keys = false;
        // The operation ended: no reason left to exit before the command does.
        g_watch->deadline_set = false;
    }
    Wake('w');
    // terminal_ restores the terminal mode as it is destroyed.
}

RemoveOnInterrupt::RemoveOnInterrupt(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    for (int i = 0; i < kCleanupSlots; ++i) {
        if (g_cleanup_used[i]) continue;
        std::memcpy(g_cleanup_paths[i], path.c_str(), path.size() + 1);
        g_cleanup_used[i] = 1;
        slot_ = i;
        return;
    }
}

RemoveOnInterrupt::~RemoveOnInterrupt() {
    if (slot_ >= 0) g_cleanup_used[slot_] = 0;
}

}  // namespace cli
