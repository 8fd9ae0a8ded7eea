// The cause of a failed library call, as the library's log lines name it:
// the library reports only "network failure" or "failure", while its log
// (LogHandlerA, which the host defines) holds the web API's HTTP status or
// libcurl error and the store's error message and code. Lines are read
// against the formats the library logs them with (Nimbra/LogTexts.h).
#ifndef HOSTKIT_DIAGNOSIS_H
#define HOSTKIT_DIAGNOSIS_H

#include <string>
#include <vector>

namespace hostkit {

// One line the library logged.
struct LibraryLine {
    std::string function;
    std::string message;  // without the line end
};

struct Diagnosis {
    // The latest event the lines record.
    enum class Last {
        kNothing,
        kWebApiAnswered,
        kWebApiFailed,
        kStoreFailed
    } last = Last::kNothing;
    bool unreachable = false;  // kWebApiFailed: no HTTP answer came
    // kWebApiFailed: "HTTP 500" or what kept the answer away ("could not
    // connect (libcurl error 7)"); kStoreFailed: the store's message, with
    // its error code in parentheses when the library logged one.
    std::string detail;
};

Diagnosis Diagnose(const std::vector<LibraryLine>& lines);

// A failed call in words: `what` failed, and why.
struct Failure {
    std::string text;      // "cannot list a/: the web API answered HTTP 500"
    bool network = false;  // the web API or the store could not be reached
};

// `what` with the cause that `lines` (logged during the call) name. `result`
// is the call's final notification (1 network failure, -1 other), or 0 when
// it sent none (calls that answer with a bool or a number, and a failed
// credentials request).
Failure ExplainFailure(const std::string& what, const std::vector<LibraryLine>& lines,
                       int result = 0);

}  // namespace hostkit

#endif  // HOSTKIT_DIAGNOSIS_H
