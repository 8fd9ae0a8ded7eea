#include "Status.h"

#include <cstdio>

#include "BuildInfo.h"
#include "Log.h"

namespace cli {

int Fail(int code, const std::string& what, const std::string& hint) {
    std::fprintf(stderr, "nimbra: %s\n", what.c_str());
    if (!hint.empty()) std::fprintf(stderr, "  %s\n", hint.c_str());
    return code;
}

std::string NetworkHint() {
    return std::string("Is the web API at ") + kServerUrl + " and the store at " + kEndpoint +
           " reachable? Both addresses are compiled in (nimbra --version). " + LogHint();
}

std::string LogHint() {
    const std::string where = LogLocation();
    if (where == "stderr") return "";
    return "Library log: " + where;
}

int FailWithResult(int result, const std::string& what) {
    if (result == 1) return Fail(kExitNetwork, what + " (network failure)", NetworkHint());
    return Fail(kExitFailed, what, LogHint());
}

}  // namespace cli
