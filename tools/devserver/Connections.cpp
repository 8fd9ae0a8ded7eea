#include "Connections.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace devserver {

ConnectionState& CurrentConnection() {
    thread_local ConnectionState state;
    return state;
}

ThreadPerConnection::ThreadPerConnection(std::function<void()> on_idle_close)
    : on_idle_close_(std::move(on_idle_close)) {}

ThreadPerConnection::~ThreadPerConnection() {
    shutdown();
}

void ThreadPerConnection::enqueue(std::function<void()> fn) {
    Reap();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    {
        std::lock_guard<std::mutex> lock(mu_);
        workers_.push_back(std::move(worker));
    }
    w->thread = std::thread([this, w, fn = std::move(fn)] {
        CurrentConnection() = ConnectionState();
        fn();
        if (CurrentConnection().first_request && on_idle_close_) on_idle_close_();
        w->done = true;
    });
}

void ThreadPerConnection::Reap() {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& w : finished)
        if (w->thread.joinable()) w->thread.join();
}

void ThreadPerConnection::shutdown() {
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(mu_);
        all.swap(workers_);
    }
    for (auto& w : all)
        if (w->thread.joinable()) w->thread.join();
}

namespace {

bool AddressOf(const sockaddr_storage& ss, std::string& ip, int& port) {
    char buf[INET6_ADDRSTRLEN] = {0};
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
        inet_ntop(AF_INET, &a->sin_addr, buf, sizeof buf);
        port = ntohs(a->sin_port);
    } else if (ss.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
        inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof buf);
        port = ntohs(a->sin6_port);
    } else {
        return false;
    }
    ip = buf;
    return true;
}

// Calls fn(fd, local ip, local port, peer ip, peer port) for each connected
// TCP socket of this process; stops when fn returns true.
template <class Fn>
void ForEachConnectedSocket(Fn fn) {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return;
    int dir_fd = dirfd(d);
    while (struct dirent* e = readdir(d)) {
        char* end = nullptr;
        long v = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0') continue;
        int fd = static_cast<int>(v);
        if (fd == dir_fd) continue;
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_storage local{}, peer{};
        socklen_t ll = sizeof local, pl = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0) continue;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0) continue;
        std::string lip, pip;
        int lport = 0, pport = 0;
        if (!AddressOf(local, lip, lport) || !AddressOf(peer, pip, pport)) continue;
        if (fn(fd, lip, lport, pip, pport)) break;
    }
    closedir(d);
}

}  // namespace

void PrepareRequest(const httplib::Request& req) {
    // The request object is httplib's own mutable local; routes see it as const.
    auto& mutable_req = const_cast<httplib::Request&>(req);
    mutable_req.ranges.clear();
    mutable_req.headers.erase("Accept-Encoding");
}

bool AbortConnection(const httplib::Request& req) {
    bool found = false;
    ForEachConnectedSocket(
        [&](int fd, const std::string& lip, int lport, const std::string& pip, int pport) {
            if (lport != req.local_port || pport != req.remote_port || lip != req.local_addr ||
                pip != req.remote_addr)
                return false;
            ::shutdown(fd, SHUT_RDWR);
            found = true;
            return true;
        });
    return found;
}

void EndConnectionIfClosing(const httplib::Request& req, const httplib::Response& res) {
    if (res.get_header_value("Connection") != "close") return;
    // The descriptor is known where RequestFraming.cpp reads the headers; a
    // request refused before then has no addresses to look it up by.
    const int fd = CurrentConnection().socket;
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
    } else {
        AbortConnection(req);
    }
}

void ShutdownConnections(const std::set<int>& ports) {
    ForEachConnectedSocket([&](int fd, const std::string&, int lport, const std::string&, int) {
        if (ports.count(lport)) ::shutdown(fd, SHUT_RDWR);
        return false;
    });
}

}  // namespace devserver
