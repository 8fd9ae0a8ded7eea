// Fuzz target: the response-header store of CWebRequest, fed line by line
// through the libcurl header callback as a server's answer would feed it.
// Checks, for every input: each call takes every byte; the raw header text
// is exactly what arrived; every line with a ':' is stored once, under the
// bytes before its first ':', with everything after it as the value, and the
// values of one name come back in arrival order.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Nimbra/WebRequest.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte chooses how libcurl's size and count split a line.
    if (size < 1) return 0;
    const bool by_items = data[0] & 1;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    // libcurl hands over one line at a time, its CR LF included.
    std::vector<std::string> lines;
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('\n', start);
        end = end == std::string::npos ? input.size() : end + 1;
        lines.push_back(input.substr(start, end - start));
        start = end;
    }

    CWebRequest request;
    std::vector<std::pair<std::string, std::string>> fields;
    for (std::string& line : lines) {
        const size_t count = by_items ? line.size() : 1;
        const size_t item = by_items ? 1 : line.size();
        Check(CWebRequest::WriteHeaderCallback(&line[0], item, count, &request) == line.size());
        const size_t colon = line.find(':');
        if (colon != std::string::npos)
            fields.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }

    Check(request.GetResponseHeader() == input);
    const std::multimap<std::string, std::string> stored = request.GetResponseHeaders();
    Check(stored.size() == fields.size());
    std::map<std::string, std::vector<std::string>> by_name;
    for (const auto& f : fields) by_name[f.first].push_back(f.second);
    for (const auto& entry : by_name) {
        Check(request.SearchResponseHeaders(entry.first) == entry.second);
        Check(request.SearchResponseHeader(entry.first) == entry.second.front());
    }
    // A name that never arrived finds nothing.
    const std::string absent = input + "\n:absent";
    Check(request.SearchResponseHeader(absent).empty());
    Check(request.SearchResponseHeaders(absent).empty());
    return 0;
}
