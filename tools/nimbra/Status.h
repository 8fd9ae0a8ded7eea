// Exit statuses and the failure messages shared by every command.
#ifndef NIMBRA_CLI_STATUS_H
#define NIMBRA_CLI_STATUS_H

#include <string>

namespace cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitNetwork = 1,  // the web API or the store could not be reached
    kExitFailed = 2,   // any other failure
    kExitStopped = 3,  // the user stopped the operation
    kExitUsage = 64,   // bad command line
};

// Prints "nimbra: <what>" and, when given, an indented hint line on stderr,
// control characters escaped; returns `code` so a command can
// `return Fail(...)`.
int Fail(int code, const std::string& what, const std::string& hint = "");

// Reports a failed library call: `what` with the cause that the library's
// log lines since the last ForgetLibraryLines name (Diagnosis.h). `result`
// is the call's final notification (1 network failure, -1 other), or 0 when
// it sent none (calls that answer with a bool or a number, and a failed
// credentials request). The status is kExitNetwork when the result is 1 or
// the web API gave no HTTP answer, kExitFailed otherwise.
int FailCall(const std::string& what, int result = 0);

// What to check when the web API or the store could not be reached,
// naming the compiled-in addresses.
std::string NetworkHint();

// Where the library's log lines went, for a hint after a failure.
std::string LogHint();

}  // namespace cli

#endif  // NIMBRA_CLI_STATUS_H
