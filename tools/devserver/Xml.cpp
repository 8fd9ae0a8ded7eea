#include "Xml.h"

#include <expat.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace devserver {

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\r':  // a parser reads a literal one as a line feed
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

XmlWriter::XmlWriter() : out_("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") {}

XmlWriter& XmlWriter::Open(const char* tag) {
    out_ += "<";
    out_ += tag;
    out_ += ">";
    return *this;
}

XmlWriter& XmlWriter::Close(const char* tag) {
    out_ += "</";
    out_ += tag;
    out_ += ">";
    return *this;
}

XmlWriter& XmlWriter::Element(const char* tag, const std::string& text) {
    Open(tag);
    out_ += XmlEscape(text);
    return Close(tag);
}

XmlWriter& XmlWriter::Element(const char* tag, long long value) {
    return Element(tag, std::to_string(value));
}

std::string ErrorXml(const std::string& code, const std::string& message,
                     const std::string& request_id, const std::string& host_id,
                     const std::vector<std::pair<std::string, std::string>>& extra) {
    XmlWriter w;
    w.Open("Error")
        .Element("Code", code)
        .Element("Message", message)
        .Element("RequestId", request_id)
        .Element("HostId", host_id);
    for (const auto& e : extra) w.Element(e.first.c_str(), e.second);
    w.Close("Error");
    return w.str();
}

namespace {

// The completion request, read as expat reports it: a root element
// CompleteMultipartUpload holding only Part elements, each with one PartNumber
// and one ETag of plain text (other children of a Part are skipped). Expat,
// not Mini-XML: Mini-XML 3.3 leaks the nodes it drops on some malformed
// documents (an unterminated attribute, markup after the root), which every
// such request would cost.
class CompletionReader {
public:
    explicit CompletionReader(std::vector<CompletePart>& parts) : parts_(parts) {}

    bool Read(const std::string& body) {
        if (body.find('\0') != std::string::npos || body.size() > INT_MAX) return false;
        std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
            XML_ParserCreate("UTF-8"), XML_ParserFree);
        if (!parser) return false;
        parser_ = parser.get();
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, OnStart, OnEnd);
        XML_SetCharacterDataHandler(parser_, OnText);
        XML_SetStartDoctypeDeclHandler(parser_, OnDoctype);
        const bool parsed = XML_Parse(parser_, body.data(), static_cast<int>(body.size()),
                                      XML_TRUE) == XML_STATUS_OK;
        return parsed && !failed_ && !parts_.empty();
    }

private:
    enum class Field { kNone, kNumber, kEtag };
    // The document nests three levels; deeper markup inside an unknown
    // element is refused before it costs memory.
    static constexpr int kMaxDepth = 16;

    void Fail() {
        if (!failed_) XML_StopParser(parser_, XML_FALSE);
        failed_ = true;
    }

    void Start(const std::string& name) {
        const int depth = depth_++;
        if (depth == kMaxDepth) return Fail();
        if (depth == 0 && name != "CompleteMultipartUpload") return Fail();
        if (depth == 1) {
            if (name != "Part") return Fail();
            part_ = CompletePart();
            have_number_ = have_etag_ = false;
        } else if (depth == 2) {
            field_ = name == "PartNumber" ? Field::kNumber
                     : name == "ETag"     ? Field::kEtag
                                          : Field::kNone;
            bool& seen = field_ == Field::kNumber ? have_number_ : have_etag_;
            if (field_ != Field::kNone && seen) return Fail();  // one of each
            text_.clear();
        } else if (depth > 2 && field_ != Field::kNone) {
            Fail();  // an element where text belongs
        }
    }

    void End() {
        const int depth = --depth_;
        if (depth == 2 && field_ != Field::kNone) {
            const size_t first = text_.find_first_not_of(kBlanks);
            const std::string text =
                first == std::string::npos
                    ? ""
                    : text_.substr(first, text_.find_last_not_of(kBlanks) + 1 - first);
            if (field_ == Field::kEtag) {
                part_.etag = text;
                have_etag_ = true;
            } else if (text.empty() || text.size() > 9 ||
                       text.find_first_not_of("0123456789") != std::string::npos) {
                return Fail();
            } else {
                part_.part_number = std::atoll(text.c_str());
                have_number_ = true;
            }
            field_ = Field::kNone;
        } else if (depth == 1) {
            if (!have_number_ || !have_etag_) return Fail();
            parts_.push_back(part_);
        }
    }

    static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char**) {
        auto* r = static_cast<CompletionReader*>(self);
        if (!r->failed_) r->Start(name);
    }
    static void XMLCALL OnEnd(void* self, const XML_Char*) {
        auto* r = static_cast<CompletionReader*>(self);
        if (!r->failed_) r->End();
    }
    static void XMLCALL OnText(void* self, const XML_Char* s, int len) {
        auto* r = static_cast<CompletionReader*>(self);
        if (!r->failed_ && r->depth_ == 3 && r->field_ != Field::kNone)
            r->text_.append(s, static_cast<size_t>(len));
    }
    // Clients send no document type; one could declare entities that expand
    // beyond any bound.
    static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                  int) {
        static_cast<CompletionReader*>(self)->Fail();
    }

    static constexpr const char* kBlanks = " \t\r\n";
    std::vector<CompletePart>& parts_;
    XML_Parser parser_ = nullptr;
    bool failed_ = false;
    int depth_ = 0;
    Field field_ = Field::kNone;
    std::string text_;  // of the field being read
    CompletePart part_;
    bool have_number_ = false, have_etag_ = false;
};

}  // namespace

bool ParseCompleteMultipartUpload(const std::string& body, std::vector<CompletePart>& parts) {
    parts.clear();
    if (!CompletionReader(parts).Read(body)) parts.clear();
    return !parts.empty();
}

}  // namespace devserver
