// The HTTP engine of both listeners: libmicrohttpd through its public
// interface, and nothing else of it. It takes requests as they arrive (target
// and header values undecoded, the body in pieces as it comes), bounds their
// heads, hands them to an HttpService, and sends the answers (file bodies
// with sendfile). This is the one file that knows the library.
#ifndef TOOLS_DEVSERVER_HTTPLISTENER_H
#define TOOLS_DEVSERVER_HTTPLISTENER_H

#include <sys/socket.h>

#include <functional>
#include <mutex>
#include <string>

#include "HttpMessage.h"

struct MHD_Daemon;

namespace devserver {

class HttpListener {
public:
    struct Options {
        std::string name;  // "store" or "web API": in messages and request log lines
        std::string host;
        int port = 0;                           // 0: any free port
        std::string tls_cert_pem, tls_key_pem;  // both empty: plain HTTP
        bool log_requests = false;              // one line per answer on stderr
        // Once per connection: with its first request, as it reaches the
        // service, or with null when it ends before any did.
        std::function<void(const HttpRequest* first)> on_connection;
    };

    HttpListener(HttpService& service, Options options);
    ~HttpListener() { Stop(); }
    HttpListener(const HttpListener&) = delete;
    HttpListener& operator=(const HttpListener&) = delete;

    // Binds and serves from then on; throws std::runtime_error when it cannot.
    void Start();
    // Closes every connection and waits for the threads serving them.
    void Stop();
    int port() const { return port_; }

private:
    struct Hooks;  // the library's callbacks (HttpListener.cpp)
    friend struct Hooks;

    HttpService& service_;
    Options options_;
    sockaddr_storage address_{};
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::mutex log_mu_;
    std::string last_message_;  // the library's last message, for a failed start
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_HTTPLISTENER_H
