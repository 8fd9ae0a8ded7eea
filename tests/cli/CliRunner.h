// Runs the nimbra binary as a user would: with pipes (RunCli) or on a
// pseudo-terminal (PtySession), in a private HOME with its own log file.
#ifndef TESTS_CLI_CLIRUNNER_H
#define TESTS_CLI_CLIRUNNER_H

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct CliResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Extra environment for the child; HOME and NIMBRA_LOG default to `home`
// and `home`/nimbra.log.
struct CliEnv {
    std::string home;
    std::map<std::string, std::string> vars;
};

CliResult RunCli(const CliEnv& env, const std::vector<std::string>& args);

// nimbra on a fresh pseudo-terminal that is its controlling terminal, as
// in an interactive shell. The test keeps the terminal's slave side open to
// inspect its mode after the child has exited.
class PtySession {
public:
    PtySession(const CliEnv& env, const std::vector<std::string>& args);
    ~PtySession();  // kills a child still running
    PtySession(const PtySession&) = delete;
    PtySession& operator=(const PtySession&) = delete;

    // Reads output until `done(output so far)` holds; false on timeout or exit.
    bool WaitFor(const std::function<bool(const std::string&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));
    bool WaitForText(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60));
    void Type(const std::string& keys);
    void Signal(int sig);
    // Waits for the exit (reading output meanwhile); the exit status or -1.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

    const std::string& output() const { return output_; }
    pid_t pid() const { return pid_; }
    // The terminal's mode now (after the child exited: what it left behind).
    termios Mode() const;
    // The mode the terminal had before the child started.
    const termios& initial_mode() const { return initial_; }

private:
    void Drain(int timeout_ms);

    int master_ = -1;
    int slave_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
    std::string output_;
    termios initial_{};
};

// The nimbra binary under test.
const char* CliPath();

#endif  // TESTS_CLI_CLIRUNNER_H
