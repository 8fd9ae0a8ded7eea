// Exit statuses and the failure messages shared by every command.
#ifndef NIMBRA_CLI_STATUS_H
#define NIMBRA_CLI_STATUS_H

#include <string>

namespace cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitNetwork = 1,  // the library reported a network failure (result 1)
    kExitFailed = 2,   // any other failure (result -1 or false)
    kExitStopped = 3,  // the user stopped the operation
    kExitUsage = 64,   // bad command line
};

// Prints "nimbra: <what>" and, when given, an indented hint line on stderr;
// returns `code` so a command can `return Fail(...)`.
int Fail(int code, const std::string& what, const std::string& hint = "");

// What to check when the web API or the store could not be reached,
// naming the compiled-in addresses.
std::string NetworkHint();

// Where the library's log lines went, for a hint after a failure.
std::string LogHint();

// Maps a transfer or listing result (1 network, anything else failure)
// to the exit code and the matching hint.
int FailWithResult(int result, const std::string& what);

}  // namespace cli

#endif  // NIMBRA_CLI_STATUS_H
