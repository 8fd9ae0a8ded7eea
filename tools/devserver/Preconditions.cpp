#include "Preconditions.h"

#include "TimeUtil.h"

namespace devserver {
namespace {

const char* const kConditionHeaders[] = {"If-Match", "If-None-Match", "If-Modified-Since",
                                         "If-Unmodified-Since"};

// The opaque text of an entity tag, quotes taken off; `weak` for a W/ tag.
// Tags sent without quotes are taken as they are.
std::string Opaque(std::string tag, bool& weak) {
    weak = tag.compare(0, 2, "W/") == 0;
    if (weak) tag = tag.substr(2);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"')
        tag = tag.substr(1, tag.size() - 2);
    return tag;
}

// Whether a list of entity tags ("*" or tags separated by commas) names the
// object's: by strong comparison (If-Match, where weak tags never match) or
// weak comparison (If-None-Match).
bool ListMatches(const std::string& list, const std::string& etag, bool strong) {
    if (Trim(list) == "*") return true;
    bool weak = false;
    const std::string own = Opaque(etag, weak);
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        const std::string tag = Opaque(Trim(list.substr(at, comma - at)), weak);
        if (!tag.empty() && tag == own && !(strong && weak)) return true;
        at = comma + 1;
    }
    return false;
}

// A valid date header: its time in `when` (a missing one is "", not a date).
bool DateHeader(const KeyValues& headers, const char* name, time_t& when) {
    return ParseHttpDate(Trim(HeaderValue(headers, name)), when);
}

}  // namespace

Precondition EvaluatePreconditions(const KeyValues& headers, const std::string& etag,
                                   int64_t modified_seconds) {
    time_t when = 0;
    if (HasHeader(headers, "If-Match")) {
        if (!ListMatches(HeaderValue(headers, "If-Match"), etag, true))
            return Precondition::kFailed;
    } else if (DateHeader(headers, "If-Unmodified-Since", when) && modified_seconds > when) {
        return Precondition::kFailed;
    }
    if (HasHeader(headers, "If-None-Match")) {
        if (ListMatches(HeaderValue(headers, "If-None-Match"), etag, false))
            return Precondition::kNotModified;
    } else if (DateHeader(headers, "If-Modified-Since", when) && modified_seconds <= when) {
        return Precondition::kNotModified;
    }
    return Precondition::kPass;
}

bool HasPrecondition(const KeyValues& headers) {
    for (const char* name : kConditionHeaders)
        if (HasHeader(headers, name)) return true;
    return false;
}

}  // namespace devserver
