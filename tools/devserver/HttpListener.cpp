#include "HttpListener.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "RequestEntry.h"

namespace devserver {
namespace {

// Connections waiting to be accepted: set here rather than left to a
// library's default (cpp-httplib's was 5), so that a burst of new
// connections from a parallel client finds room instead of resets.
constexpr unsigned kListenBacklog = 1024;
// Per connection: the request head, then the read buffer, which takes half of
// what is free and so bounds the piece of a body handed over at once (about
// 512 KiB). A head that does not fit is refused by the library itself (431).
constexpr size_t kConnectionMemory = 1u << 20;
constexpr unsigned kIdleSeconds = 30;  // idle or stalled connections close
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeaderBytes = 64 * 1024;
// A body that the answer does not need is read and dropped, so that the
// connection stays usable, when it is no longer than this; a chunked body is
// read and dropped up to this much.
constexpr long long kDrainLimit = 64ll << 20;
constexpr size_t kMaxRequestsPerConnection = 100000;
constexpr size_t kBodyBlock = 256 * 1024;  // a body read through ReadAt, per call

struct ConnectionState {
    size_t requests = 0;  // that reached the service
};

// One request, from its request line to the end of its answer.
struct RequestState {
    HttpRequest request;
    std::unique_ptr<Exchange> exchange;
    long long length = 0;   // of the body; -1: not known (chunked)
    long long dropped = 0;  // body bytes read after the exchange stopped wanting them
    bool answered = false;
    std::string failure;  // what a service threw
};

// The part of an answer's body that is sent; reading past `end` drops the
// connection (a cut answer).
struct BodyStream {
    std::shared_ptr<const AnswerBody> body;
    long long end;
};

// The body's length; -1 when it is not known (chunked).
long long BodyLength(const HttpRequest& r) {
    if (strcasecmp(r.Header("Transfer-Encoding").c_str(), "chunked") == 0) return -1;
    return std::atoll(r.Header("Content-Length").c_str());
}

std::string PeerAddress(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "";
    if (!info || !info->client_addr) return "";
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                  sizeof text);
    return text;
}

ConnectionState& StateOf(MHD_Connection* c) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return *static_cast<ConnectionState*>(info->socket_context);
}

MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* name, const char* value) {
    static_cast<KeyValues*>(cls)->emplace_back(name, value ? value : "");
    return MHD_YES;
}

// What makes a request's head untrustworthy before its body is read: more
// than the bounded number or size of header lines, or Content-Length values
// that disagree (the library itself refuses one that is not a number).
std::string EntryProblem(MHD_Connection* c, const HttpRequest& r) {
    if (r.headers.size() > kMaxHeaderLines) return "The request has more than 100 header lines.";
    const MHD_ConnectionInfo* size =
        MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    if (size && size->header_size > kMaxHeaderBytes)
        return "The request's header is larger than 64 KiB.";
    return ContentLengthProblem(r.headers);
}

ssize_t ReadBody(void* cls, uint64_t pos, char* buf, size_t max) {
    const auto* s = static_cast<const BodyStream*>(cls);
    const long long at = static_cast<long long>(pos);
    // Past the cut, or bytes that cannot be read: the library drops the
    // connection, and the client sees a short answer.
    if (at >= s->end) return MHD_CONTENT_READER_END_WITH_ERROR;
    const size_t want = static_cast<size_t>(std::min<long long>(max, s->end - at));
    const ssize_t n = s->body->ReadAt(at, buf, want);
    return n > 0 ? n : MHD_CONTENT_READER_END_WITH_ERROR;
}

void FreeBody(void* cls) {
    delete static_cast<BodyStream*>(cls);
}

// A body that is one stretch of a file goes out with sendfile, unless it is
// cut; anything else is read through the body's ReadAt. A HEAD answer
// announces its body's length and sends none.
MHD_Response* MakeResponse(const Answer& a, bool head) {
    const long long size = a.body ? a.body->Size() : 0;
    if (size <= 0) return MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    const bool cut = a.cut_after >= 0 && a.cut_after < size;
    if (!head && !cut) {
        long long offset = 0;
        const int fd = a.body->FileStretch(offset);
        if (fd >= 0) {
            MHD_Response* r = MHD_create_response_from_fd_at_offset64(
                static_cast<uint64_t>(size), fd, static_cast<int64_t>(offset));
            if (r) return r;
            close(fd);
        }
    }
    auto* stream = new BodyStream{a.body, head ? 0 : cut ? a.cut_after : size};
    MHD_Response* r = MHD_create_response_from_callback(static_cast<uint64_t>(size), kBodyBlock,
                                                        &ReadBody, stream, &FreeBody);
    if (!r) delete stream;
    return r;
}

}  // namespace

// Requests reach the service from the library's callbacks, each on its
// connection's own thread (MHD_USE_THREAD_PER_CONNECTION): a service may
// block (direct-I/O writes, SQLite commits, a fault's delay), which in a
// thread pool would stall the other connections of the blocked thread, and a
// single upload or download gets a core of its own, as it needs for full
// speed. Services are thread-safe.
//
// Connections end through the library only. To drop one without an answer
// the access handler returns MHD_NO; to cut an answer short the body reader
// returns MHD_CONTENT_READER_END_WITH_ERROR; either way the library shuts
// the socket down and closes it. The descriptor stays the library's. An
// abortive close (SO_LINGER 0 on the descriptor that
// MHD_CONNECTION_INFO_CONNECTION_FD gives, then MHD_NO) does not reach a
// reading client as a reset: the library shuts the write side down (a FIN)
// before it closes, and the client reads the end of the stream first. So the
// server offers drops, not resets.
struct HttpListener::Hooks {
    static void* OnUri(void*, const char* uri, MHD_Connection*) {
        auto* state = new RequestState;
        state->request.target = uri;
        return state;
    }

    // The service decodes the target itself, where it needs to.
    static size_t KeepEscapes(void*, MHD_Connection*, char* s) { return std::strlen(s); }

    static void OnCompleted(void*, MHD_Connection*, void** request, MHD_RequestTerminationCode) {
        delete static_cast<RequestState*>(*request);
        *request = nullptr;
    }

    static void OnConnection(void* cls, MHD_Connection*, void** socket_context,
                             MHD_ConnectionNotificationCode code) {
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            *socket_context = new ConnectionState;
            return;
        }
        auto* state = static_cast<ConnectionState*>(*socket_context);
        const auto& notify = static_cast<HttpListener*>(cls)->options_.on_connection;
        if (state && state->requests == 0 && notify) notify(nullptr);
        delete state;
        *socket_context = nullptr;
    }

    static void OnLog(void* cls, const char* format, va_list args) {
        auto* self = static_cast<HttpListener*>(cls);
        char text[512];
        vsnprintf(text, sizeof text, format, args);
        std::lock_guard<std::mutex> lock(self->log_mu_);
        self->last_message_ = text;
        if (self->options_.log_requests) std::cerr << self->options_.name << ": " << text;
    }

    // Called once the head is in, once per piece of the body, and once more
    // at its end (size 0).
    static MHD_Result OnRequest(void* cls, MHD_Connection* c, const char*, const char* method,
                                const char*, const char* data, size_t* size, void** request) {
        auto* self = static_cast<HttpListener*>(cls);
        auto* s = static_cast<RequestState*>(*request);
        if (!s || s->answered) return MHD_NO;
        if (!s->exchange) return Begin(*self, c, method, *s);
        if (*size > 0) {
            const size_t n = *size;
            *size = 0;
            // The library takes an answer before the body or after it, not in
            // between: a service that fails there, or a chunked body that goes
            // on for long after the answer is settled, costs the connection.
            if (s->exchange->WantsBody())
                return Guard(*s, [&] { s->exchange->Take(data, n); }) ? MHD_YES : MHD_NO;
            s->dropped += static_cast<long long>(n);
            return s->length >= 0 || s->dropped <= kDrainLimit ? MHD_YES : MHD_NO;
        }
        return Finish(*self, c, *s);
    }

    static MHD_Result Begin(HttpListener& self, MHD_Connection* c, const char* method,
                            RequestState& s) {
        HttpRequest& r = s.request;
        r.method = method;
        r.path = r.target.substr(0, r.target.find('?'));
        MHD_get_connection_values(c, MHD_HEADER_KIND, &CollectHeader, &r.headers);
        r.peer = PeerAddress(c);
        if (StateOf(c).requests++ == 0 && self.options_.on_connection)
            self.options_.on_connection(&r);
        const std::string problem = EntryProblem(c, r);
        if (!problem.empty()) {
            Answer refusal = self.service_.Refuse(r, 400, problem);
            refusal.close = true;
            return Send(self, c, s, std::move(refusal));
        }
        if (!Guard(s, [&] { s.exchange = self.service_.Start(r); })) return Fail(self, c, s);
        // An answer that needs no body goes out at once, and the connection
        // closes, when reading the body is not worth it: a long or chunked
        // one, or one that a client waiting for "100 Continue" has not sent.
        s.length = BodyLength(r);
        const bool waiting = strcasecmp(r.Header("Expect").c_str(), "100-continue") == 0;
        if (s.length != 0 && !s.exchange->WantsBody() &&
            (s.length < 0 || s.length > kDrainLimit || waiting))
            return Finish(self, c, s);
        return MHD_YES;
    }

    static MHD_Result Finish(HttpListener& self, MHD_Connection* c, RequestState& s) {
        Answer answer;
        if (!Guard(s, [&] { answer = s.exchange->Finish(); })) return Fail(self, c, s);
        return Send(self, c, s, std::move(answer));
    }

    // A service that throws (a database error) answers 500 in its own format,
    // and the connection closes.
    template <class Fn>
    static bool Guard(RequestState& s, Fn fn) {
        try {
            fn();
            return true;
        } catch (const std::exception& e) {
            s.failure = e.what();
            return false;
        }
    }

    static MHD_Result Fail(HttpListener& self, MHD_Connection* c, RequestState& s) {
        Answer failure = self.service_.Refuse(s.request, 500, "Internal error: " + s.failure);
        failure.close = true;
        return Send(self, c, s, std::move(failure));
    }

    static MHD_Result Send(HttpListener& self, MHD_Connection* c, RequestState& s, Answer a) {
        s.answered = true;
        if (self.options_.log_requests) {
            std::lock_guard<std::mutex> lock(self.log_mu_);
            std::cerr << self.options_.name << " " << s.request.method << " " << s.request.target
                      << " -> " << (a.drop ? "dropped" : std::to_string(a.status)) << std::endl;
        }
        if (a.drop) return MHD_NO;
        if (StateOf(c).requests >= kMaxRequestsPerConnection) a.close = true;
        MHD_Response* response = MakeResponse(a, s.request.method == "HEAD");
        if (!response) return MHD_NO;
        for (const auto& h : a.headers)
            MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
        if (a.close) MHD_add_response_header(response, "Connection", "close");
        const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(a.status), response);
        MHD_destroy_response(response);
        return queued;
    }
};

HttpListener::HttpListener(HttpService& service, Options options)
    : service_(service), options_(std::move(options)) {}

void HttpListener::Start() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(options_.host.c_str(), nullptr, &hints, &found) != 0 || !found)
        throw std::runtime_error("cannot resolve " + options_.host);
    std::memcpy(&address_, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    const uint16_t port = htons(static_cast<uint16_t>(options_.port));
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
                     MHD_USE_POLL | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (address_.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&address_)->sin6_port = port;
        flags |= MHD_USE_IPv6;
    } else {
        reinterpret_cast<sockaddr_in*>(&address_)->sin_port = port;
    }
    auto fn = [](auto f) { return reinterpret_cast<intptr_t>(f); };
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_EXTERNAL_LOGGER, fn(&Hooks::OnLog), this},
        {MHD_OPTION_SOCK_ADDR, 0, &address_},
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, kListenBacklog, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, fn(&Hooks::OnUri), this},
        {MHD_OPTION_UNESCAPE_CALLBACK, fn(&Hooks::KeepEscapes), this},
        {MHD_OPTION_NOTIFY_CONNECTION, fn(&Hooks::OnConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, fn(&Hooks::OnCompleted), this},
    };
    if (!options_.tls_cert_pem.empty()) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            throw std::runtime_error("libmicrohttpd was built without TLS: use --api-plain-http");
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, &options_.tls_key_pem[0]});
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, &options_.tls_cert_pem[0]});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    // The port is in the address; the library also names it in its messages.
    daemon_ =
        MHD_start_daemon(flags, static_cast<uint16_t>(options_.port), nullptr, nullptr,
                         &Hooks::OnRequest, this, MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (!daemon_) {
        std::lock_guard<std::mutex> lock(log_mu_);
        throw std::runtime_error("cannot serve the " + options_.name + " port " +
                                 std::to_string(options_.port) + ": " + last_message_);
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : options_.port;
}

void HttpListener::Stop() {
    if (daemon_) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

}  // namespace devserver
