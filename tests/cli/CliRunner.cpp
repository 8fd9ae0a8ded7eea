#include "tests/cli/CliRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#ifndef NIMBRA_CLI_PATH
#error "NIMBRA_CLI_PATH must name the nimbra binary"
#endif

namespace {

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// argv and envp for execve, built before fork.
struct ExecArgs {
    std::vector<std::string> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

ExecArgs BuildExec(const CliEnv& env, const std::vector<std::string>& args) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq != nullptr) vars[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    vars["HOME"] = env.home;
    vars["NIMBRA_LOG"] = env.home + "/nimbra.log";
    vars.erase("XDG_CACHE_HOME");
    for (const auto& kv : env.vars) vars[kv.first] = kv.second;

    ExecArgs exec;
    exec.storage.push_back(CliPath());
    for (const auto& a : args) exec.storage.push_back(a);
    const size_t argc = exec.storage.size();
    for (const auto& kv : vars) exec.storage.push_back(kv.first + "=" + kv.second);
    for (size_t i = 0; i < exec.storage.size(); ++i) {
        (i < argc ? exec.argv : exec.envp).push_back(&exec.storage[i][0]);
    }
    exec.argv.push_back(nullptr);
    exec.envp.push_back(nullptr);
    return exec;
}

}  // namespace

const char* CliPath() {
    return NIMBRA_CLI_PATH;
}

CliResult RunCli(const CliEnv& env, const std::vector<std::string>& args) {
    ExecArgs exec = BuildExec(env, args);
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        execve(exec.argv[0], exec.argv.data(), exec.envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    CliResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[8192];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = DecodeStatus(status);
    return result;
}

PtySession::PtySession(const CliEnv& env, const std::vector<std::string>& args) {
    ExecArgs exec = BuildExec(env, args);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    tcgetattr(slave_, &initial_);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // login_tty: new session, the slave as controlling terminal and stdio.
        if (login_tty(dup(slave_)) != 0) _exit(126);
        execve(exec.argv[0], exec.argv.data(), exec.envp.data());
        _exit(127);
    }
}

PtySession::~PtySession() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    close(master_);
    close(slave_);
}

void PtySession::Drain(int timeout_ms) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, timeout_ms) <= 0) return;
    char buffer[8192];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
}

bool PtySession::WaitFor(const std::function<bool(const std::string&)>& done,
                         std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(output_)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (status_ < 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = DecodeStatus(status);
        }
        if (status_ >= 0) {
            Drain(0);
            return done(output_);
        }
        Drain(50);
    }
    return true;
}

bool PtySession::WaitForText(const std::string& text, std::chrono::milliseconds timeout) {
    return WaitFor([&](const std::string& out) { return out.find(text) != std::string::npos; },
                   timeout);
}

void PtySession::Type(const std::string& keys) {
    ssize_t written = write(master_, keys.data(), keys.size());
    (void)written;
}

void PtySession::Signal(int sig) {
    kill(pid_, sig);
}

int PtySession::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (status_ < 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = DecodeStatus(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        Drain(50);
    }
    Drain(0);
    return status_;
}

termios PtySession::Mode() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
}
