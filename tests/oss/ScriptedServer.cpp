#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

ScriptedServer::ScriptedServer() {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, (sockaddr*)&addr, sizeof addr) != 0 ||
        listen(listen_fd_, 8) != 0 || getsockname(listen_fd_, (sockaddr*)&addr, &len) != 0)
        throw std::runtime_error("ScriptedServer: cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    int fd = active_fd_.load();
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
    thread_.join();
    close(listen_fd_);
}

void ScriptedServer::Push(ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mu_);
    replies_.push_back(std::move(reply));
}

std::string ScriptedServer::Response(int status, const std::string& body,
                                     const std::vector<std::string>& headers) {
    std::string r = "HTTP/1.1 " + std::to_string(status) + " X\r\n";
    for (const std::string& h : headers) r += h + "\r\n";
    r += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return r;
}

std::vector<ScriptedServer::Request> ScriptedServer::Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
}

std::string ScriptedServer::Request::Header(const std::string& name) const {
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        if (strncasecmp(head.c_str() + pos, (name + ":").c_str(), name.size() + 1) == 0) {
            size_t b = pos + name.size() + 1, e = head.find("\r\n", b);
            while (b < e && head[b] == ' ') ++b;
            return head.substr(b, e - b);
        }
    }
    return "";
}

std::string ScriptedServer::Request::Line() const {
    return head.substr(0, head.find("\r\n"));
}

void ScriptedServer::Run() {
    while (!stop_) {
        pollfd p = {listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        active_fd_ = fd;
        Serve(fd);
        active_fd_ = -1;
        close(fd);
    }
}

void ScriptedServer::Serve(int fd) {
    std::string in;
    char buf[65536];
    while (!stop_) {
        // One request: the head, then Content-Length bytes of body.
        size_t head_end;
        while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, (size_t)n);
        }
        Request req;
        req.head = in.substr(0, head_end + 2);
        size_t body_len = (size_t)atoll(req.Header("Content-Length").c_str());
        in.erase(0, head_end + 4);
        while (in.size() < body_len) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, (size_t)n);
        }
        req.body = in.substr(0, body_len);
        in.erase(0, body_len);

        ScriptedReply reply;
        {
            std::lock_guard<std::mutex> lock(mu_);
            requests_.push_back(req);
            if (replies_.empty()) {
                reply.raw = Response(500, "no scripted reply");
                reply.close = true;
            } else {
                reply = replies_.front();
                replies_.pop_front();
            }
        }
        if (reply.delay_ms > 0) {
            // Wait, but give up at once when the client goes away.
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, reply.delay_ms) > 0) return;
        }
        size_t off = 0;
        while (off < reply.raw.size()) {
            ssize_t n = send(fd, reply.raw.data() + off, reply.raw.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return;
            off += (size_t)n;
        }
        if (reply.close) return;
    }
}
