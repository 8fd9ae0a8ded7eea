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

int BindLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot bind 127.0.0.1:" + std::to_string(port));
    }
    socklen_t len = sizeof(addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

namespace {

// Reads one request: the header block, then as many body bytes as its
// Content-Length announces (what arrived, when the peer stops early).
std::string ReadRequest(int fd, SSL* ssl) {
    std::string data;
    char buf[16384];
    for (size_t wanted = std::string::npos; data.size() < wanted;) {
        size_t end = data.find("\r\n\r\n");
        if (wanted == std::string::npos && end != std::string::npos) {
            std::string head = data.substr(0, end);
            std::transform(head.begin(), head.end(), head.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            size_t at = head.find("\r\ncontent-length:");
            wanted = end + 4 + (at != std::string::npos ? std::stoul(head.substr(at + 17)) : 0);
            continue;
        }
        ssize_t n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    return data;
}

}  // namespace

TestCertificate::TestCertificate(const std::string& subject_alt_names)
    : key_(EVP_EC_gen("P-256"), EVP_PKEY_free), cert_(X509_new(), X509_free) {
    X509* cert = cert_.get();
    if (key_ == nullptr || cert == nullptr) throw std::runtime_error("key generation failed");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key_.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("nimbra test"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, subject_alt_names.c_str());
    if (ext == nullptr) throw std::runtime_error("bad subjectAltName");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    if (X509_sign(cert, key_.get(), EVP_sha256()) == 0) throw std::runtime_error("signing failed");
}

HttpServer::HttpServer() : server_(std::make_unique<httplib::Server>()) {}

HttpServer::HttpServer(const TestCertificate& cert)
    : server_(std::make_unique<httplib::SSLServer>(cert.cert(), cert.key())), tls_(true) {}

HttpServer::~HttpServer() {
    if (thread_.joinable()) {
        // stop() only takes effect once the accept loop runs.
        while (!server_->is_running()) std::this_thread::yield();
        server_->stop();
        thread_.join();
    }
}

void HttpServer::start(int port) {
    if (!server_->is_valid()) throw std::runtime_error("server setup failed");
    server_->set_keep_alive_timeout(1);
    server_->set_tcp_nodelay(true);  // small answers leave at once, not after 40 ms
    server_->set_payload_max_length(size_t{1} << 30);
    // SO_REUSEADDR alone (httplib's SO_REUSEPORT would let two servers share
    // a fixed port): rebinding over TIME_WAIT works, a second listener fails.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1")
                      : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) throw std::runtime_error("server bind failed");
    // The socket already listens, so connections queue until the loop runs.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

std::string HttpServer::url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

RawServer::RawServer(Handler handler, const TestCertificate* tls, int port)
    : handler_(std::move(handler)), port_(port) {
    if (tls) {
        ctx_.reset(SSL_CTX_new(TLS_server_method()));
        SSL_CTX_use_certificate(ctx_.get(), tls->cert());
        SSL_CTX_use_PrivateKey(ctx_.get(), tls->key());
    }
    fd_ = BindLoopback(port_);
    if (::listen(fd_, 16) != 0) throw std::runtime_error("listen failed");
    thread_ = std::thread([this] { Run(); });
}

RawServer::~RawServer() {
    ::shutdown(fd_, SHUT_RDWR);  // wakes the blocked accept
    thread_.join();
    ::close(fd_);
}

void RawServer::Run() {
    for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0;) {
        timeval timeout{10, 0};  // never hang a test on a silent client
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::unique_ptr<SSL, void (*)(SSL*)> ssl(ctx_ ? SSL_new(ctx_.get()) : nullptr, SSL_free);
        if (ssl) SSL_set_fd(ssl.get(), client);
        std::string request =
            !ssl || SSL_accept(ssl.get()) == 1 ? ReadRequest(client, ssl.get()) : "";
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        handler_(client, request);
        if (client >= 0) ::close(client);
    }
}

std::string RawServer::url(const std::string& path) const {
    return std::string(ctx_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void RawServer::send_all(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace webtest
