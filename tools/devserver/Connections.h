// Connection handling shared by both listeners: one thread per accepted
// connection (keep-alive connections may stay open for long), per-connection
// state for counting, and cutting connections off (scripted failures, shutdown).
#ifndef TOOLS_DEVSERVER_CONNECTIONS_H
#define TOOLS_DEVSERVER_CONNECTIONS_H

#include <httplib.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace devserver {

// State of the connection served by the calling thread.
struct ConnectionState {
    bool first_request = true;  // no request seen yet on this connection
    int socket = -1;            // its descriptor, once a request's headers were read
};
ConnectionState& CurrentConnection();

// httplib task queue that serves each connection on its own thread.
// `on_idle_close` runs when a connection ends without having carried a request.
class ThreadPerConnection : public httplib::TaskQueue {
public:
    explicit ThreadPerConnection(std::function<void()> on_idle_close = nullptr);
    ~ThreadPerConnection() override;
    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void Reap();

    std::function<void()> on_idle_close_;
    std::mutex mu_;
    std::list<std::unique_ptr<Worker>> workers_;
};

// Undoes what httplib does on its own before routing and the servers answer
// themselves: Range is handled (or ignored) by the store, and answers are never
// compressed (the real store does not gzip objects or XML by default).
void PrepareRequest(const httplib::Request& req);

// Shuts down (both directions) the socket that carries `req`, so the client
// sees the connection drop. Found by its addresses; false when not found.
bool AbortConnection(const httplib::Request& req);

// Ends the connection of an answer that says "Connection: close" once it is
// written (called from the server's logger): httplib itself would go on
// reading the connection, and take an unread body for the next request.
void EndConnectionIfClosing(const httplib::Request& req, const httplib::Response& res);

// Shuts down every connected socket whose local port is in `ports`, so
// keep-alive waits end at once when the server stops.
void ShutdownConnections(const std::set<int>& ports);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_CONNECTIONS_H
