#include "hostkit/Diagnosis.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <regex>

#include "Nimbra/LogTexts.h"

namespace hostkit {
namespace {

std::string CurlText(int code) {
    const char* what = nullptr;
    switch (code) {
        case 6:
            what = "the host name could not be resolved";
            break;
        case 7:
            what = "could not connect";
            break;
        case 28:
            what = "timed out";
            break;
        case 35:
            what = "the TLS handshake failed";
            break;
        case 52:
            what = "the connection closed without an answer";
            break;
        case 55:
        case 56:
            what = "the connection broke";
            break;
        default:
            what = "transfer error";
            break;
    }
    return std::string(what) + " (libcurl error " + std::to_string(code) + ")";
}

// Whether `line` was rendered from `format` (line ends dropped, as the log
// keeps lines); `text` gets what the format's one plain %s stood for.
bool Rendered(const char* format, const std::string& line, std::string* text = nullptr) {
    std::string pattern;
    size_t text_group = 0, groups = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f == '\n') continue;
        if (*f != '%') {
            if (std::strchr("\\^$.|?*+()[]{}", *f) != nullptr) pattern += '\\';
            pattern += *f;
            continue;
        }
        const size_t flags = std::strspn(f + 1, ".*l");
        f += 1 + flags;  // the conversion
        if (*f == '\0') break;
        if (*f == '%') {
            pattern += '%';
        } else if (*f == 's') {
            pattern += "([\\s\\S]*)";
            if (flags == 0) text_group = groups + 1;
            ++groups;
        } else {
            pattern += "(-?[0-9]+)";
            ++groups;
        }
    }
    std::smatch match;
    if (!std::regex_match(line, match, std::regex(pattern))) return false;
    if (text != nullptr) *text = text_group != 0 ? match[text_group].str() : "";
    return true;
}

// Failed store requests, whose %s is the store's message.
const char* const kStoreFailures[] = {kLogInitFailed,     kLogPartFailed, kLogListPartsFailed,
                                      kLogCompleteFailed, kLogMetaFailed, kLogRangeFailed,
                                      kLogDeleteFailed};
// Lines that name no cause: successes, a token about to be refreshed, and the
// manager's failures, which follow the failed web request's own line.
const char* const kNoCause[] = {
    kLogInitSucceeded,   kLogCompleteSucceeded, kLogTokenExpired,
    kLogStsKeyFailed,    kLogInsertFailed,      kLogInsertSucceeded,
    kLogUsedSpaceFailed, kLogRecordsFailed,     kLogDeleteRecordsFailed};

}  // namespace

Diagnosis Diagnose(const std::vector<LibraryLine>& lines) {
    Diagnosis d;
    std::string code;  // the store's error code comes just before the failure line
    for (const LibraryLine& line : lines) {
        const std::string& m = line.message;
        std::string text;
        if (line.function == kLogFunctionSendUrl) {
            code.clear();
            if (Rendered(kLogSendUrlOk, m)) {
                d = Diagnosis();
                d.last = Diagnosis::Last::kWebApiAnswered;
                continue;
            }
            d.last = Diagnosis::Last::kWebApiFailed;
            d.unreachable = true;
            int curl = 0, status = 0;
            if (std::sscanf(m.c_str(), kLogSendUrlFailed, &curl, &status) == 2) {
                d.unreachable = curl != 0;
                d.detail = curl != 0 ? CurlText(curl) : "HTTP " + std::to_string(status);
            } else {
                d.detail = "no HTTP answer";
            }
        } else if (Rendered(kLogStoreErrorCode, m, &text)) {
            code = text;
        } else if (std::none_of(std::begin(kNoCause), std::end(kNoCause),
                                [&m](const char* format) { return Rendered(format, m); })) {
            // A failed store request gives the store's message; the library's
            // own checks (a range of the wrong length, say) their whole line.
            const bool store =
                std::any_of(std::begin(kStoreFailures), std::end(kStoreFailures),
                            [&](const char* format) { return Rendered(format, m, &text); });
            d.last = Diagnosis::Last::kStoreFailed;
            d.unreachable = false;
            d.detail = (store ? text : m) + (code.empty() ? "" : " (" + code + ")");
            code.clear();
        }
    }
    return d;
}

Failure ExplainFailure(const std::string& what, const std::vector<LibraryLine>& lines, int result) {
    const Diagnosis d = Diagnose(lines);
    Failure failure{what, result == 1};
    switch (d.last) {
        case Diagnosis::Last::kWebApiFailed:
            failure.network = failure.network || d.unreachable;
            failure.text += d.unreachable ? ": cannot reach the web API: " + d.detail
                                          : ": the web API answered " + d.detail;
            break;
        case Diagnosis::Last::kWebApiAnswered:
            // The request went through, and nothing came after it.
            if (result == 0) failure.text += ": the web API's answer could not be read";
            break;
        case Diagnosis::Last::kStoreFailed:
            failure.text += ": " + d.detail;
            break;
        case Diagnosis::Last::kNothing:
            break;
    }
    if (failure.network && d.last != Diagnosis::Last::kWebApiFailed)
        failure.text += " (network failure)";
    return failure;
}

}  // namespace hostkit
