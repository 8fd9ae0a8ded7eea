#include "tests/support/TestServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace webtest {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A TCP socket bound to 127.0.0.1 at a free port.
// Binds 127.0.0.1:port (0 = a free port) and reports the bound port.
int BindLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// Reads one request: headers, then the body announced by Content-Length or a
// chunked body up to its last chunk. Returns what was read (possibly partial
// when the peer stops sending).
std::string ReadRequest(int fd) {
    std::string data;
    char buf[16384];
    size_t header_end = std::string::npos;
    size_t wanted = std::string::npos;
    bool chunked = false;
    for (;;) {
        if (header_end == std::string::npos) {
            header_end = data.find("\r\n\r\n");
            if (header_end != std::string::npos) {
                header_end += 4;
                for (const std::string& line : RequestHeaderLines(data.substr(0, header_end))) {
                    std::string lower = Lower(line);
                    if (lower.rfind("content-length:", 0) == 0) {
                        wanted = header_end + std::stoul(line.substr(15));
                    } else if (lower.rfind("transfer-encoding:", 0) == 0 &&
                               lower.find("chunked") != std::string::npos) {
                        chunked = true;
                    }
                }
                if (wanted == std::string::npos && !chunked) wanted = header_end;
            }
        }
        if (header_end != std::string::npos) {
            if (!chunked && data.size() >= wanted) return data;
            if (chunked && data.size() >= header_end + 5 &&
                data.compare(data.size() - 5, 5, "0\r\n\r\n") == 0) {
                return data;
            }
        }
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) return data;
        data.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

// ---------------------------------------------------------------------------

TestCertificate::TestCertificate(const std::string& subject_alt_names) {
    key_ = EVP_EC_gen("P-256");
    cert_ = X509_new();
    if (key_ == nullptr || cert_ == nullptr) throw std::runtime_error("key generation failed");
    X509_set_version(cert_, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert_), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert_), 24 * 3600);
    X509_set_pubkey(cert_, key_);
    X509_NAME* name = X509_get_subject_name(cert_);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("nimbra test"), -1, -1, 0);
    X509_set_issuer_name(cert_, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert_, cert_, nullptr, nullptr, 0);
    X509_EXTENSION* ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, subject_alt_names.c_str());
    if (ext == nullptr) throw std::runtime_error("bad subjectAltName");
    X509_add_ext(cert_, ext, -1);
    X509_EXTENSION_free(ext);
    if (X509_sign(cert_, key_, EVP_sha256()) == 0) throw std::runtime_error("signing failed");
}

TestCertificate::~TestCertificate() {
    X509_free(cert_);
    EVP_PKEY_free(key_);
}

// ---------------------------------------------------------------------------

std::vector<std::string> ReceivedRequest::header_values(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& h : headers) {
        if (Lower(h.first) == Lower(name)) values.push_back(h.second);
    }
    return values;
}

std::string ReceivedRequest::header(const std::string& name) const {
    std::vector<std::string> values = header_values(name);
    return values.empty() ? std::string() : values.front();
}

HttpServer::HttpServer() : server_(std::make_unique<httplib::Server>()) {}

HttpServer::HttpServer(const TestCertificate& cert)
    : server_(std::make_unique<httplib::SSLServer>(cert.cert(), cert.key())), tls_(true) {}

HttpServer::HttpServer(const std::function<bool(SSL_CTX&)>& setup_tls)
    : server_(std::make_unique<httplib::SSLServer>(setup_tls)), tls_(true) {}

HttpServer::~HttpServer() {
    if (thread_.joinable()) {
        // stop() only takes effect once the accept loop runs.
        while (!server_->is_running()) std::this_thread::yield();
        server_->stop();
        thread_.join();
    }
}

HttpServer::Handler HttpServer::recording(Handler handler) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
        ReceivedRequest r;
        r.method = req.method;
        r.path = req.path;
        r.target = req.target;
        for (const auto& h : req.headers) {
            if (h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" || h.first == "LOCAL_ADDR" ||
                h.first == "LOCAL_PORT") {
                continue;
            }
            r.headers.emplace_back(h.first, h.second);
        }
        r.body = req.body;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(std::move(r));
        }
        handler(req, res);
    };
}

void HttpServer::get(const std::string& pattern, Handler handler) {
    server_->Get(pattern, recording(std::move(handler)));
}

void HttpServer::post(const std::string& pattern, Handler handler) {
    server_->Post(pattern, recording(std::move(handler)));
}

void HttpServer::start(int port) {
    if (!server_->is_valid()) throw std::runtime_error("server setup failed");
    server_->set_keep_alive_timeout(1);
    server_->set_payload_max_length(size_t{1} << 30);
    // SO_REUSEADDR alone (httplib's default is SO_REUSEPORT, which would let
    // two servers share a fixed port): rebinding over TIME_WAIT works, a
    // second live listener fails.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (port > 0) {
        port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
    } else {
        port_ = server_->bind_to_any_port("127.0.0.1");
    }
    if (port_ <= 0) throw std::runtime_error("server bind failed");
    // The socket already listens, so connections queue until the loop runs.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

std::string HttpServer::url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> HttpServer::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

// ---------------------------------------------------------------------------

RawServer::RawServer(Handler handler, int port) : handler_(std::move(handler)), port_(port) {
    listen_fd_ = BindLoopback(port_);
    if (::listen(listen_fd_, 16) != 0) {
        ::close(listen_fd_);
        throw std::runtime_error("listen failed");
    }
    thread_ = std::thread([this] { run(); });
}

RawServer::~RawServer() {
    ::shutdown(listen_fd_, SHUT_RDWR);  // wakes the blocked accept
    thread_.join();
    ::close(listen_fd_);
}

void RawServer::run() {
    for (;;) {
        int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) return;
        timeval timeout{10, 0};  // never hang a test on a silent client
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        std::string request = ReadRequest(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        handler_(fd, request);
        if (fd >= 0) ::close(fd);
    }
}

std::string RawServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> RawServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void RawServer::send_all(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

void RawServer::reset(int& fd) {
    linger lin{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lin, sizeof(lin));
    ::close(fd);
    fd = -1;
}

std::vector<std::string> RequestHeaderLines(const std::string& raw_request) {
    std::vector<std::string> lines;
    size_t end = raw_request.find("\r\n\r\n");
    if (end == std::string::npos) return lines;
    size_t pos = raw_request.find("\r\n");  // skip the request line
    while (pos < end) {
        size_t next = raw_request.find("\r\n", pos + 2);
        lines.push_back(raw_request.substr(pos + 2, next - pos - 2));
        pos = next;
    }
    return lines;
}

// ---------------------------------------------------------------------------

RefusingPort::RefusingPort() {
    fd_ = BindLoopback(port_);
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

}  // namespace webtest
