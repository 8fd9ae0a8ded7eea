// A loopback HTTP peer that answers each request with the next scripted
// raw reply, records what it received and counts connections. For the
// transport cases a real store cannot be made to produce on demand
// (garbage, silence, early close).
#ifndef TESTS_OSS_SCRIPTEDSERVER_H
#define TESTS_OSS_SCRIPTEDSERVER_H

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptedReply {
    std::string raw;     // bytes sent as they are
    bool close = false;  // close the connection after sending
    int delay_ms = 0;    // wait before sending
};

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

    void Push(ScriptedReply reply);
    // A complete answer with the given status, headers and body.
    static std::string Response(int status, const std::string& body,
                                const std::vector<std::string>& headers = {});

    // Every request received so far: head (request line and headers) and body.
    struct Request {
        std::string head, body;
        std::string Header(const std::string& name) const;  // "" when absent
        std::string Line() const;                           // the request line
    };
    std::vector<Request> Requests();
    int connections() const { return connections_.load(); }

private:
    void Run();
    void Serve(int fd);

    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> active_fd_{-1};
    std::mutex mu_;
    std::deque<ScriptedReply> replies_;
    std::vector<Request> requests_;
    std::thread thread_;
};

#endif  // TESTS_OSS_SCRIPTEDSERVER_H
