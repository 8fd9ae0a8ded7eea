// Fuzz target: the completion request document as the development server
// reads it. Any bytes: a refusal leaves no parts; an accepted document has
// parts, each number an int of at most nine digits (so the order check
// compares exact values), ETags trimmed, at most one part per 46 bytes of the
// document, and the server's own writer gives a document read back the same.
// A made-up part list, written with padding, comments, declarations and
// unknown elements, reads back exactly.
#include "Xml.h"
#include "tests/unit/fuzz/FuzzHarness.h"

using devserver::CompletePart;
using devserver::ParseCompleteMultipartUpload;
using devserver::XmlEscape;
using devserver::XmlWriter;

namespace {

using Parts = std::vector<CompletePart>;

// The shortest part: <Part><PartNumber>1</PartNumber><ETag/></Part>.
const size_t kShortestPart = 46;
const char* const kBlanks = " \t\r\n";

bool Same(const Parts& a, const Parts& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].part_number != b[i].part_number || a[i].etag != b[i].etag) return false;
    return true;
}

std::string Written(const Parts& parts) {
    XmlWriter w;
    w.Open("CompleteMultipartUpload");
    for (const CompletePart& p : parts)
        w.Open("Part").Element("PartNumber", p.part_number).Element("ETag", p.etag).Close("Part");
    return w.Close("CompleteMultipartUpload").str();
}

void CheckAnyBytes(const std::string& body) {
    Parts parts = {{7, "left over"}};
    if (!ParseCompleteMultipartUpload(body, parts)) {
        Check(parts.empty());
        return;
    }
    Check(!parts.empty() && parts.size() <= body.size() / kShortestPart);
    Check(body.find('\0') == std::string::npos);
    for (const CompletePart& p : parts) {
        Check(p.part_number >= 0 && p.part_number <= 999999999);
        Check(fuzz::Trimmed(p.etag, kBlanks));
    }
    Parts again;
    Check(ParseCompleteMultipartUpload(Written(parts), again) && Same(again, parts));
}

// Blanks, a comment or nothing, as may stand between elements.
std::string Filler(FuzzedDataProvider& fdp) {
    switch (fdp.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return "";
        case 1:
            return "<!-- a note -->";
        default: {
            const size_t count = fdp.ConsumeIntegralInRange<size_t>(0, 4);
            return std::string(count, kBlanks[fdp.ConsumeIntegralInRange(0, 3)]);
        }
    }
}

// Printable ASCII, which a document carries as it is (after escaping).
std::string PrintableText(FuzzedDataProvider& fdp) {
    return fuzz::Printable(fdp.ConsumeRandomLengthString(24));
}

// A made-up part list as a client might write it, each piece of markup after
// a filler (taken in order, so an input means the same to every compiler).
void CheckWritten(FuzzedDataProvider& fdp) {
    Parts parts(fdp.ConsumeIntegralInRange<size_t>(0, 12));
    std::string body = fdp.ConsumeBool() ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" : "";
    const auto add = [&](const std::string& markup) { body += Filler(fdp) + markup; };
    add("<CompleteMultipartUpload>");
    for (CompletePart& p : parts) {
        p.part_number = fdp.ConsumeIntegralInRange<long long>(0, 999999999);
        const std::string etag = PrintableText(fdp);
        const size_t first = etag.find_first_not_of(' ');
        if (first != std::string::npos)
            p.etag = etag.substr(first, etag.find_last_not_of(' ') + 1 - first);
        std::string digits = std::to_string(p.part_number);
        digits.insert(0, fdp.ConsumeIntegralInRange<size_t>(0, 9 - digits.size()), '0');
        const bool number_first = fdp.ConsumeBool(), other = fdp.ConsumeBool();
        add("<Part>");
        for (int field = 0; field < 2; ++field) {
            if ((field == 0) == number_first) {
                add("<PartNumber>");
                add(digits);
                add("</PartNumber>");
            } else {
                add("<ETag>");
                body += XmlEscape(etag) + "</ETag>";
            }
            if (other && field == 0) add("<Size>" + XmlEscape(PrintableText(fdp)) + "</Size>");
        }
        add("</Part>");
    }
    add("</CompleteMultipartUpload>");
    body += Filler(fdp);
    Parts got;
    Check(ParseCompleteMultipartUpload(body, got) == !parts.empty());
    Check(Same(got, parts));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckAnyBytes(fuzz::Text(data, size));
    FuzzedDataProvider fdp(data, size);
    CheckWritten(fdp);
    return 0;
}
