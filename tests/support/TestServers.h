// Servers on 127.0.0.1 for tests of the HTTP client and the web API client: a cpp-httplib server (plain
// or TLS with a certificate made at run time) that records what it received,
// and a raw TCP server whose handler scripts each connection byte by byte.
#ifndef TESTS_SUPPORT_TESTSERVERS_H
#define TESTS_SUPPORT_TESTSERVERS_H

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace webtest {

// A self-signed certificate and its key, valid for the given subjectAltName
// list (OpenSSL syntax, e.g. "IP:127.0.0.1,DNS:localhost").
class TestCertificate {
public:
    explicit TestCertificate(const std::string& subject_alt_names);
    ~TestCertificate();
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    X509* cert() const { return cert_; }
    EVP_PKEY* key() const { return key_; }

private:
    X509* cert_ = nullptr;
    EVP_PKEY* key_ = nullptr;
};

// One request as a server saw it.
struct ReceivedRequest {
    std::string method;
    std::string path;
    std::string target;  // path and query exactly as sent
    std::vector<std::pair<std::string, std::string>> headers;  // connection info removed
    std::string body;

    // Values of the header named `name` (case-insensitive, as HTTP names are).
    std::vector<std::string> header_values(const std::string& name) const;
    bool has_header(const std::string& name) const { return !header_values(name).empty(); }
    std::string header(const std::string& name) const;  // first value or ""
};

// A cpp-httplib server on 127.0.0.1 at a free port. Register routes with
// get()/post() (they record every request), then start().
class HttpServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    HttpServer();                                      // plain HTTP
    explicit HttpServer(const TestCertificate& cert);  // HTTPS
    // HTTPS with full control of the TLS context (certificate included).
    explicit HttpServer(const std::function<bool(SSL_CTX&)>& setup_tls);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    void get(const std::string& pattern, Handler handler);
    void post(const std::string& pattern, Handler handler);
    // Listens on 127.0.0.1:port, a free port when 0.
    void start(int port = 0);

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>" (https for a TLS server).
    std::string url(const std::string& path) const;
    std::vector<ReceivedRequest> received() const;

private:
    Handler recording(Handler handler);

    std::unique_ptr<httplib::Server> server_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> received_;
};

// A TCP server on 127.0.0.1 at a free port. For every connection it reads one
// request (headers, then a Content-Length or chunked body), records its raw
// bytes and calls the handler with the socket; the connection is closed when
// the handler returns unless the handler closed it (then it returns -1 via
// `fd`).
class RawServer {
public:
    using Handler = std::function<void(int& fd, const std::string& request)>;

    // Listens on 127.0.0.1:port, a free port when 0.
    explicit RawServer(Handler handler, int port = 0);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<std::string> requests() const;

    // Helpers for handlers.
    static void send_all(int fd, const std::string& data);
    // Closes with SO_LINGER 0, so the peer sees a reset; sets fd to -1.
    static void reset(int& fd);

private:
    void run();

    Handler handler_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// Splits a raw request into its header lines (request line excluded, no CR LF).
std::vector<std::string> RequestHeaderLines(const std::string& raw_request);

// A port on 127.0.0.1 that refuses connections: bound, never listening, held
// for the object's life so no one else takes it.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace webtest

#endif  // TESTS_SUPPORT_TESTSERVERS_H
