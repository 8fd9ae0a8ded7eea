#include "Status.h"

#include <cstdio>

#include "BuildInfo.h"
#include "Log.h"
#include "hostkit/Diagnosis.h"
#include "hostkit/SafeText.h"

namespace cli {

int Fail(int code, const std::string& what, const std::string& hint) {
    std::fprintf(stderr, "nimbra: %s\n", hostkit::SafeText(what).c_str());
    if (!hint.empty()) std::fprintf(stderr, "  %s\n", hostkit::SafeText(hint).c_str());
    return code;
}

int FailCall(const std::string& what, int result) {
    const hostkit::Failure failure = hostkit::ExplainFailure(what, RecentLibraryLines(), result);
    return Fail(failure.network ? kExitNetwork : kExitFailed, failure.text,
                failure.network ? NetworkHint() : LogHint());
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

}  // namespace cli
