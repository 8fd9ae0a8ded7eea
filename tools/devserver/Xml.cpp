#include "Xml.h"

#include <mxml.h>

#include <cerrno>
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

struct NodeDeleter {
    void operator()(mxml_node_t* n) const { mxmlDelete(n); }
};

void IgnoreXmlError(const char*) {}

// Concatenated text of an element's children (mxml keeps opaque runs).
std::string TextOf(mxml_node_t* element) {
    std::string text;
    for (mxml_node_t* c = mxmlGetFirstChild(element); c; c = mxmlGetNextSibling(c)) {
        if (mxmlGetType(c) == MXML_OPAQUE) {
            const char* s = mxmlGetOpaque(c);
            if (s) text += s;
        } else if (mxmlGetType(c) == MXML_ELEMENT) {
            return "\x01";  // nested element where text was expected
        }
    }
    size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = text.find_last_not_of(" \t\r\n");
    return text.substr(b, e - b + 1);
}

}  // namespace

bool ParseCompleteMultipartUpload(const std::string& body, std::vector<CompletePart>& parts) {
    parts.clear();
    mxmlSetErrorCallback(IgnoreXmlError);
    std::unique_ptr<mxml_node_t, NodeDeleter> doc(
        mxmlLoadString(nullptr, body.c_str(), MXML_OPAQUE_CALLBACK));
    if (!doc || body.find('\0') != std::string::npos) return false;
    mxml_node_t* root = mxmlFindElement(doc.get(), doc.get(), "CompleteMultipartUpload", nullptr,
                                        nullptr, MXML_DESCEND_FIRST);
    if (!root) {
        // mxmlLoadString may return the root element itself.
        const char* name = mxmlGetElement(doc.get());
        if (name && std::string(name) == "CompleteMultipartUpload") root = doc.get();
    }
    if (!root) return false;
    for (mxml_node_t* p = mxmlGetFirstChild(root); p; p = mxmlGetNextSibling(p)) {
        if (mxmlGetType(p) != MXML_ELEMENT) continue;
        if (std::string(mxmlGetElement(p)) != "Part") return false;
        CompletePart part;
        bool have_number = false;
        bool have_etag = false;
        for (mxml_node_t* f = mxmlGetFirstChild(p); f; f = mxmlGetNextSibling(f)) {
            if (mxmlGetType(f) != MXML_ELEMENT) continue;
            std::string name = mxmlGetElement(f);
            std::string text = TextOf(f);
            if (name == "PartNumber") {
                if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
                    text.size() > 9)
                    return false;
                part.part_number = std::atoll(text.c_str());
                have_number = true;
            } else if (name == "ETag") {
                if (text == "\x01") return false;
                part.etag = text;
                have_etag = true;
            }
        }
        if (!have_number || !have_etag) return false;
        parts.push_back(part);
    }
    return !parts.empty();
}

}  // namespace devserver
