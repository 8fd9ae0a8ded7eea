// Fuzz target: the texts of a store request as the development server reads
// them. Percent-decoding fails exactly on a '%' without two hex digits and
// undoes percent-encoding; a canonically encoded text re-encodes to its own
// bytes. A request target splits into a path starting with '/' and query
// pairs that, encoded again, split the same. The address takes the bucket
// from the Host's first label or the path's first segment, the key from the
// rest, and refuses bucket names outside the naming rule. A list count is a
// decimal of at most nine digits within its bounds. A byte range lies inside
// the object, is unsatisfiable, or leaves the whole object; a well-formed
// single range is served as RFC 7233 says, or by the store's default, which
// answers the whole object where HTTP would refuse the range or cut its end.
#include <arpa/inet.h>

#include <cctype>
#include <climits>

#include "RequestText.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using namespace devserver;

namespace {

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool Unreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
}

// Every '%' starts an escape of two hex digits.
bool WellEscaped(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2])) return false;
        i += 2;
    }
    return true;
}

// A well-escaped text as PercentEncode writes it: unreserved characters and
// '/' (when kept) as they are, every other byte as an upper-case escape.
bool Canonical(const std::string& text, bool keep_slash) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            const std::string hex = text.substr(i + 1, 2);
            const int byte = std::stoi(hex, nullptr, 16);
            if (Unreserved(byte) || (keep_slash && byte == '/') ||
                hex.find_first_of("abcdef") != std::string::npos)
                return false;
            i += 2;
        } else if (!Unreserved(c) && !(keep_slash && c == '/')) {
            return false;
        }
    }
    return true;
}

void CheckCoding(const std::string& text) {
    std::string decoded = "untouched", again;
    const bool ok = PercentDecode(text, decoded);
    Check(ok == WellEscaped(text));
    for (bool keep_slash : {false, true}) {
        if (ok && Canonical(text, keep_slash)) Check(PercentEncode(decoded, keep_slash) == text);
        const std::string encoded = PercentEncode(text, keep_slash);
        Check(Canonical(encoded, keep_slash));
        Check(PercentDecode(encoded, again) && again == text);
    }
}

std::string Target(const std::string& path, const KeyValues& query) {
    std::string target = PercentEncode(path, true);
    for (size_t i = 0; i < query.size(); ++i)
        target += (i ? "&" : "?") + PercentEncode(query[i].first, false) + "=" +
                  PercentEncode(query[i].second, false);
    return target;
}

// Checks the target; returns its path when it has one.
std::string CheckTarget(const std::string& target) {
    std::string path, decoded;
    KeyValues query = {{"left", "over"}}, again;
    const bool ok = ParseTarget(target, path, query);
    const std::string before = target.substr(0, target.find('?'));
    Check(ok == (WellEscaped(target) && PercentDecode(before, decoded) && !decoded.empty() &&
                 decoded[0] == '/'));
    if (!ok) return "/";
    Check(path == decoded);
    Check(query.size() <= static_cast<size_t>(std::count(target.begin(), target.end(), '&')) + 1);
    Check(ParseTarget(Target(path, query), decoded, again) && decoded == path && again == query);
    return path;
}

bool BucketName(const std::string& b) {
    return b.size() >= 3 && b.size() <= 63 && b.front() != '-' && b.back() != '-' &&
           b.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") == std::string::npos;
}

void CheckAddress(const std::string& host, const std::string& path) {
    StoreAddress a;
    a.bucket = "left over";
    const bool ok = ResolveAddress(host, path, a);
    Check(ok == (a.bucket.empty() || BucketName(a.bucket)));
    Check(a.object_level == !a.key.empty());
    // The host's name: without its port, in lower case; an IPv6 literal whole.
    std::string name = host;
    if (name.empty() || name[0] != '[') {
        name = name.substr(0, name.rfind(':'));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    in_addr ip;
    const size_t dot = name.find('.');
    if ((!name.empty() && name[0] == '[') || dot == std::string::npos ||
        inet_pton(AF_INET, name.c_str(), &ip) == 1) {
        const bool separated = path.find('/', 1) != std::string::npos;
        Check(path == "/" + a.bucket + (separated ? "/" + a.key : ""));
    } else {
        Check(a.bucket == name.substr(0, dot) && path == "/" + a.key);
    }
}

void CheckListCount(const std::string& text, int lo, int hi) {
    int count = -12345;
    const bool decimal = fuzz::IsDecimal(text) && text.size() <= 9;
    const long long value = decimal ? std::stoll(text) : -1;
    Check(ParseListCount(text, lo, hi, count) == (decimal && value >= lo && value <= hi));
    Check(count == (decimal && value >= lo && value <= hi ? value : -12345));
}

// A well-formed header's range as HTTP serves it (`kind`, `first`, `last`),
// and the store's default: the whole object where HTTP answers 416 or where
// the range's end lies `beyond` the object.
void CheckRange(const std::string& header, long long size, ByteRange::Kind kind, long long first,
                long long last, bool beyond) {
    const ByteRange standard = ParseRange(header, size, RangeBehavior::kStandard);
    const ByteRange lenient = ParseRange(header, size, RangeBehavior::kLenient);
    Check(standard.kind == kind);
    const bool whole = kind == ByteRange::kUnsatisfiable || (kind == ByteRange::kPartial && beyond);
    Check(lenient.kind == (whole ? ByteRange::kNone : kind));
    for (const ByteRange& r : {standard, lenient})
        if (r.kind == ByteRange::kPartial) Check(r.first == first && r.last == last);
}

// Any header: a partial range lies within the object. A well-formed single
// range, "a-b", "a-" or "-n", as RFC 7233 serves it and as the store's
// default does.
void CheckRanges(FuzzedDataProvider& fdp, const std::string& header) {
    const long long kSizes = 1000000000000000000LL;  // sizes up to 10^18
    const long long size = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<long long>(0, 20)
                                             : fdp.ConsumeIntegralInRange<long long>(0, kSizes);
    for (RangeBehavior behavior : {RangeBehavior::kStandard, RangeBehavior::kLenient}) {
        const ByteRange any = ParseRange(header, size, behavior);
        if (any.kind == ByteRange::kPartial)
            Check(any.first >= 0 && any.first <= any.last && any.last < size);
    }

    const auto near = [&] {
        return fdp.ConsumeBool() ? std::max(0LL, size + fdp.ConsumeIntegralInRange(-2, 2))
                                 : fdp.ConsumeIntegralInRange<long long>(0, LLONG_MAX);
    };
    const long long a = near(), b = near();
    const std::string from = std::to_string(a), to = std::to_string(b);
    const ByteRange::Kind starts = a < size ? ByteRange::kPartial : ByteRange::kUnsatisfiable;
    CheckRange("bytes=" + from + "-" + to, size, a > b ? ByteRange::kNone : starts, a,
               std::min(b, size - 1), b >= size);
    CheckRange("bytes=" + from + "-", size, starts, a, size - 1, false);
    CheckRange("bytes=-" + to, size,
               b > 0 && size > 0 ? ByteRange::kPartial : ByteRange::kUnsatisfiable,
               std::max(0LL, size - b), size - 1, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string target = fdp.ConsumeRandomLengthString(512);
    const std::string host = fdp.ConsumeRandomLengthString(80);
    const std::string header = fdp.ConsumeRandomLengthString(64);
    CheckCoding(target);
    CheckAddress(host, CheckTarget(target));
    const int lo = fdp.ConsumeIntegralInRange(0, 10);
    CheckListCount(header, lo, fdp.ConsumeIntegralInRange(0, 1000));
    CheckRanges(fdp, header);
    return 0;
}
