// XML bodies of the object store: a small writer for answers and the parser
// for the CompleteMultipartUpload request body.
#ifndef TOOLS_DEVSERVER_XML_H
#define TOOLS_DEVSERVER_XML_H

#include <string>
#include <utility>
#include <vector>

namespace devserver {

std::string XmlEscape(const std::string& text);

// Builds a document that starts with the XML declaration.
class XmlWriter {
public:
    XmlWriter();
    XmlWriter& Open(const char* tag);
    XmlWriter& Close(const char* tag);
    XmlWriter& Element(const char* tag, const std::string& text);
    XmlWriter& Element(const char* tag, long long value);
    const std::string& str() const { return out_; }

private:
    std::string out_;
};

// <Error><Code/><Message/><RequestId/><HostId/>[extra elements]</Error>
std::string ErrorXml(const std::string& code, const std::string& message,
                     const std::string& request_id, const std::string& host_id,
                     const std::vector<std::pair<std::string, std::string>>& extra = {});

struct CompletePart {
    long long part_number = 0;
    std::string etag;
};

// Parses <CompleteMultipartUpload><Part><PartNumber/><ETag/></Part>...</...>:
// at least one part, each with one PartNumber of at most nine digits and one
// ETag, their text trimmed. False, with `parts` empty, for anything else
// (MalformedXML), a document type and nesting deeper than 16 levels included.
bool ParseCompleteMultipartUpload(const std::string& body, std::vector<CompletePart>& parts);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_XML_H
