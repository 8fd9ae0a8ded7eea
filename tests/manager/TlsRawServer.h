// A TLS server on 127.0.0.1 that completes the handshake, reads one request
// and then ends the connection in a chosen way, to produce the transport
// failures a web API client meets: a clean close without an answer, an
// abrupt close, a reset.
#ifndef TESTS_MANAGER_TLSRAWSERVER_H
#define TESTS_MANAGER_TLSRAWSERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/TestServers.h"

class TlsRawServer {
public:
    enum class Ending {
        kCloseNotify,  // TLS close_notify, then close: the client got nothing
        kAbruptClose,  // close without close_notify
        kReset,        // close with SO_LINGER 0
    };

    TlsRawServer(int port, Ending ending) : ending_(ending) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, cert_.cert());
        SSL_CTX_use_PrivateKey(ctx_, cert_.key());
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd_, 8) != 0) {
            ::close(fd_);
            SSL_CTX_free(ctx_);
            throw std::runtime_error("cannot listen on port " + std::to_string(port) + ": " +
                                     std::strerror(errno));
        }
        thread_ = std::thread([this] { Run(); });
    }

    ~TlsRawServer() {
        ::shutdown(fd_, SHUT_RDWR);  // wakes the accept
        thread_.join();
        ::close(fd_);
        SSL_CTX_free(ctx_);
    }

    int requests() const { return requests_; }

private:
    void Run() {
        for (;;) {
            int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) return;
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, client);
            if (SSL_accept(ssl) == 1) {
                std::string request;
                char buf[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    int n = SSL_read(ssl, buf, sizeof buf);
                    if (n <= 0) break;
                    request.append(buf, static_cast<size_t>(n));
                }
                ++requests_;
                if (ending_ == Ending::kCloseNotify) SSL_shutdown(ssl);
            }
            if (ending_ == Ending::kReset) {
                linger lin{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &lin, sizeof lin);
            }
            SSL_free(ssl);
            ::close(client);
        }
    }

    Ending ending_;
    webtest::TestCertificate cert_{"IP:127.0.0.1,DNS:localhost"};
    SSL_CTX* ctx_ = nullptr;
    int fd_ = -1;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

#endif  // TESTS_MANAGER_TLSRAWSERVER_H
