// What passes between the HTTP engine (HttpListener) and the services behind
// it, free of any HTTP library: a request as it arrived, the answer to it, and
// the exchange that turns one into the other while the body arrives.
#ifndef TOOLS_DEVSERVER_HTTPMESSAGE_H
#define TOOLS_DEVSERVER_HTTPMESSAGE_H

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "RequestText.h"

namespace devserver {

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: path and query, undecoded
    std::string path;    // the target before any '?', undecoded
    KeyValues headers;   // names and values as sent, in order
    std::string peer;    // the client's numeric address

    std::string Header(const std::string& name) const { return HeaderValue(headers, name); }
};

// The bytes of an answer's body, read by the engine as it sends them.
class AnswerBody {
public:
    virtual ~AnswerBody() = default;
    virtual long long Size() const = 0;
    // Up to `len` bytes from `offset` (below Size()); <= 0 when they cannot be read.
    virtual ssize_t ReadAt(long long offset, char* buf, size_t len) const = 0;
    // When the whole body is one stretch of one file: a descriptor of the
    // caller's own for it and the offset where the body starts, so the engine
    // can send it without copying. -1 otherwise.
    virtual int FileStretch(long long& offset) const {
        (void)offset;
        return -1;
    }
};

class TextBody : public AnswerBody {
public:
    explicit TextBody(std::string text) : text_(std::move(text)) {}
    long long Size() const override { return static_cast<long long>(text_.size()); }
    ssize_t ReadAt(long long offset, char* buf, size_t len) const override;

private:
    std::string text_;
};

struct Answer {
    int status = 200;
    KeyValues headers;  // in order; Set replaces
    // Null: none. To a HEAD request its length is announced and nothing sent.
    std::shared_ptr<const AnswerBody> body;
    long long cut_after = -1;  // >= 0: the connection drops after that many body bytes
    bool close = false;        // the connection's last answer
    bool drop = false;         // no answer at all: the connection drops

    void Set(const std::string& name, const std::string& value);
    std::string Get(const std::string& name) const { return HeaderValue(headers, name); }
    // The status, a body of `text` and its Content-Type.
    void SetText(int code, std::string text, const std::string& content_type);
};

// An answer of `status` with JSON text (the web API's and the control
// interface's).
Answer JsonAnswer(int status, std::string json);
// The same with {"error": message}.
Answer JsonErrorAnswer(int status, const std::string& message);

// One request between the engine and a service. The engine hands over the
// body in pieces as they arrive, then asks for the answer once.
class Exchange {
public:
    virtual ~Exchange() = default;
    // False once the rest of the body is of no use (the answer does not
    // depend on it): the engine then reads and drops it, or, when that is
    // known from the head and not worth it, asks for the answer at once and
    // closes the connection.
    virtual bool WantsBody() const = 0;
    virtual void Take(const char* data, size_t size) = 0;
    virtual Answer Finish() = 0;
};

// An exchange whose answer is known from the headers alone.
class FixedExchange : public Exchange {
public:
    explicit FixedExchange(Answer answer) : answer_(std::move(answer)) {}
    bool WantsBody() const override { return false; }
    void Take(const char*, size_t) override {}
    Answer Finish() override { return std::move(answer_); }

private:
    Answer answer_;
};

// An exchange that reads a body of at most `limit` bytes whole and answers
// from it; a longer body gets `too_large` and no more of it is read.
class DocumentExchange : public Exchange {
public:
    using Reply = std::function<Answer(const std::string& body)>;
    DocumentExchange(size_t limit, Answer too_large, Reply reply)
        : limit_(limit), too_large_(std::move(too_large)), reply_(std::move(reply)) {}
    bool WantsBody() const override { return !over_; }
    void Take(const char* data, size_t size) override;
    Answer Finish() override { return over_ ? std::move(too_large_) : reply_(body_); }

private:
    size_t limit_;
    Answer too_large_;
    Reply reply_;
    std::string body_;
    bool over_ = false;
};

// A service behind one listener.
class HttpService {
public:
    virtual ~HttpService() = default;
    // Called once a request's headers are in.
    virtual std::unique_ptr<Exchange> Start(const HttpRequest& request) = 0;
    // The answer, in the service's own error format, to a request that the
    // engine refuses as it arrives (before Start).
    virtual Answer Refuse(const HttpRequest& request, int status, const std::string& message) = 0;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_HTTPMESSAGE_H
