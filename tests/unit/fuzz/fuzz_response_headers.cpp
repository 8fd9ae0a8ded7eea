// Fuzz target: the response header store of CWebRequest, fed line by line
// through libcurl's header callback. Each call takes every byte; the raw text
// is what arrived; every line with a ':' is stored once, under the bytes
// before its first ':' with the rest as value, values of a name in order.
#include <map>

#include "Nimbra/WebRequest.h"
#include "tests/unit/fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool by_items = data[0] & 1;  // how libcurl's size and count split a line
    const std::string input = fuzz::Text(data + 1, size - 1);

    CWebRequest request;
    std::map<std::string, std::vector<std::string>> by_name;
    size_t fields = 0;
    for (size_t start = 0, end; start < input.size(); start = end) {
        end = input.find('\n', start);  // one line at a time, its CR LF included
        end = end == std::string::npos ? input.size() : end + 1;
        std::string line = input.substr(start, end - start);
        const size_t count = by_items ? line.size() : 1, item = by_items ? 1 : line.size();
        Check(CWebRequest::WriteHeaderCallback(&line[0], item, count, &request) == line.size());
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        by_name[line.substr(0, colon)].push_back(line.substr(colon + 1));
        ++fields;
    }
    Check(request.GetResponseHeader() == input);
    Check(request.GetResponseHeaders().size() == fields);
    for (const auto& entry : by_name) {
        Check(request.SearchResponseHeaders(entry.first) == entry.second);
        Check(request.SearchResponseHeader(entry.first) == entry.second.front());
    }
    const std::string absent = input + "\n:absent";  // a name that never arrived
    Check(request.SearchResponseHeader(absent).empty() &&
          request.SearchResponseHeaders(absent).empty());
    return 0;
}
