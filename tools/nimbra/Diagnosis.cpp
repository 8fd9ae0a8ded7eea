#include "Diagnosis.h"

#include <cctype>
#include <cstdio>

namespace cli {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

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

// The store's message out of a failure line: "Init multipart upload failed,
// MSG", "oss_get_object_meta fail, MSG", "Multipart upload part from file
// failed, OFFSET, MSG, STATUS"; other lines are their own message.
std::string StoreMessage(const std::string& line) {
    std::string text = line;
    for (const char* mark : {" failed, ", " fail, "}) {
        const size_t at = text.find(mark);
        if (at != std::string::npos) {
            text = text.substr(at + std::char_traits<char>::length(mark));
            break;
        }
    }
    auto is_number = [](const std::string& s) {
        size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
        if (i == s.size()) return false;
        for (; i < s.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        }
        return true;
    };
    const size_t first = text.find(", ");
    if (first != std::string::npos && is_number(text.substr(0, first)))
        text = text.substr(first + 2);
    const size_t last = text.rfind(", ");
    if (last != std::string::npos && is_number(text.substr(last + 2))) text.resize(last);
    return text;
}

}  // namespace

Diagnosis Diagnose(const std::vector<LibraryLine>& lines) {
    Diagnosis d;
    std::string code;  // "error code: X" comes just before the failure line
    for (const LibraryLine& line : lines) {
        const std::string& m = line.message;
        int curl = 0, status = 0;
        if (line.function == "SendUrl") {
            code.clear();
            if (m.rfind("[Post]: SUCESS", 0) == 0) {
                d = Diagnosis();
                d.last = Diagnosis::Last::kWebApiAnswered;
                continue;
            }
            d.last = Diagnosis::Last::kWebApiFailed;
            d.unreachable = true;
            if (std::sscanf(m.c_str(), "ERR:res = %d,rescode = %d", &curl, &status) == 2) {
                d.unreachable = curl != 0;
                d.detail = curl != 0 ? CurlText(curl) : "HTTP " + std::to_string(status);
            } else {
                d.detail = "no HTTP answer";
            }
        } else if (m.rfind("error code: ", 0) == 0) {
            code = m.substr(12);
        } else if (!EndsWith(m, "fail!") && !EndsWith(m, "success!") &&
                   m.find("succeeded") == std::string::npos &&
                   m.find("try again") == std::string::npos) {
            d.last = Diagnosis::Last::kStoreFailed;
            d.unreachable = false;
            d.detail = StoreMessage(m) + (code.empty() ? "" : " (" + code + ")");
            code.clear();
        }
    }
    return d;
}

}  // namespace cli
