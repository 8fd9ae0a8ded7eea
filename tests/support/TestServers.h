// Servers on 127.0.0.1 for tests of HTTP clients, plain or TLS with a
// certificate made at run time: a cpp-httplib server that records what it
// received, a raw server whose handler scripts each connection, and a port
// that refuses connections.
#ifndef TESTS_SUPPORT_TESTSERVERS_H
#define TESTS_SUPPORT_TESTSERVERS_H

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace webtest {

// A TCP socket bound to 127.0.0.1:port (0: a free port, stored back).
int BindLoopback(int& port);

// A self-signed certificate and its key, valid for the given subjectAltName
// list (OpenSSL syntax, e.g. "IP:127.0.0.1,DNS:localhost").
class TestCertificate {
public:
    explicit TestCertificate(const std::string& subject_alt_names);

    X509* cert() const { return cert_.get(); }
    EVP_PKEY* key() const { return key_.get(); }

private:
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key_;
    std::unique_ptr<X509, void (*)(X509*)> cert_;
};

// One request as a server saw it.
struct ReceivedRequest {
    std::string method;
    std::string target;  // path and query exactly as sent
    httplib::Headers headers;
    std::string body;

    // The first value of the header `name` (case-insensitive) or "".
    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

// A cpp-httplib server: register routes with get()/post()/put() (they record every
// request), then start().
class HttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    HttpServer();                                      // plain HTTP
    explicit HttpServer(const TestCertificate& cert);  // HTTPS
    ~HttpServer();

    void get(const std::string& pattern, Handler h) { server_->Get(pattern, recording(h)); }
    void post(const std::string& pattern, Handler h) { server_->Post(pattern, recording(h)); }
    void put(const std::string& pattern, Handler h) { server_->Put(pattern, recording(h)); }
    void start(int port = 0);  // on 127.0.0.1:port, a free port when 0
    // "http://127.0.0.1:<port><path>" (https for a TLS server).
    std::string url(const std::string& path) const;
    std::vector<ReceivedRequest> received() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    Handler recording(Handler handler) {
        return [this, handler](const httplib::Request& req, httplib::Response& res) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back({req.method, req.target, req.headers, req.body});
            }
            handler(req, res);
        };
    }

    std::unique_ptr<httplib::Server> server_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> received_;
};

// A TCP server on 127.0.0.1:port (0: a free port), TLS with a certificate. Per
// connection it reads and records one request (headers, Content-Length body),
// then calls the handler with the socket (with TLS, only to set options),
// which is closed afterwards.
class RawServer {
public:
    using Handler = std::function<void(int& fd, const std::string& request)>;

    explicit RawServer(Handler handler, const TestCertificate* tls = nullptr, int port = 0);
    ~RawServer();

    std::string url(const std::string& path) const;
    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    static void send_all(int fd, const std::string& data);

private:
    void Run();

    Handler handler_;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx_{nullptr, SSL_CTX_free};
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening, held
// for the object's life so no one else takes it.
class RefusingPort {
public:
    RefusingPort() { fd_ = BindLoopback(port_); }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace webtest

#endif  // TESTS_SUPPORT_TESTSERVERS_H
