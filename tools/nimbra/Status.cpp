#include "Status.h"

#include <cstdio>

#include "BuildInfo.h"
#include "Diagnosis.h"
#include "Format.h"
#include "Log.h"
#include "hostkit/SafeText.h"

namespace cli {

int Fail(int code, const std::string& what, const std::string& hint) {
    std::fprintf(stderr, "nimbra: %s\n", hostkit::SafeText(what).c_str());
    if (!hint.empty()) std::fprintf(stderr, "  %s\n", hostkit::SafeText(hint).c_str());
    return code;
}

int FailCall(const std::string& what, int result) {
    const Diagnosis d = Diagnose(RecentLibraryLines());
    std::string text = what;
    bool network = result == 1;
    switch (d.last) {
        case Diagnosis::Last::kWebApiFailed:
            network = network || d.unreachable;
            text += d.unreachable ? ": cannot reach the web API: " + d.detail
                                  : ": the web API answered " + d.detail;
            break;
        case Diagnosis::Last::kWebApiAnswered:
            // The request went through, and nothing came after it.
            if (result == 0) text += ": the web API's answer could not be read";
            break;
        case Diagnosis::Last::kStoreFailed:
            text += ": " + d.detail;
            break;
        case Diagnosis::Last::kNothing:
            break;
    }
    if (network && d.last != Diagnosis::Last::kWebApiFailed) text += " (network failure)";
    return Fail(network ? kExitNetwork : kExitFailed, text, network ? NetworkHint() : LogHint());
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
