// The cause of a failed library call, as the library's log lines name it:
// the library reports only "network failure" or "failure", while its log
// (LogHandlerA, which this program defines) holds the web API's HTTP status
// or libcurl error and the store's error message and code. Lines are read
// against the formats the library logs them with (Nimbra/LogTexts.h).
#ifndef NIMBRA_CLI_DIAGNOSIS_H
#define NIMBRA_CLI_DIAGNOSIS_H

#include <string>
#include <vector>

#include "Log.h"

namespace cli {

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

}  // namespace cli

#endif  // NIMBRA_CLI_DIAGNOSIS_H
