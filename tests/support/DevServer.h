// Test fixture around the nimbra-devserver binary: starts it on free ports
// with its own data directory, talks to its web API and control interface,
// and sends signed store requests.
#ifndef TESTS_SUPPORT_DEVSERVER_H
#define TESTS_SUPPORT_DEVSERVER_H

#include <sys/types.h>

#include <map>
#include <string>
#include <utility>

#include "tests/support/TempDir.h"

// The port of a "scheme://127.0.0.1:<port>" address (a compiled-in web API
// or store address).
inline int PortOf(const std::string& url) {
    return std::stoi(url.substr(url.rfind(':') + 1));
}

struct DevServerOptions {
    bool allow_anonymous = false;  // unsigned store requests pass (signed ones are checked)
    std::string bucket = "nimbra-backup";
    int api_port = 0;             // 0 = free port
    int store_port = 0;           // 0 = free port
    bool api_plain_http = false;  // the web API without TLS, for raw requests
};

// The server process is tied to the thread that starts it (it is killed when
// that thread or the test process ends), so start it on the test's own thread.
class DevServer {
public:
    // Spawns the server and waits for "ready"; throws when it does not come.
    explicit DevServer(DevServerOptions opts = {})
        : opts_(std::move(opts)), api_port_(opts_.api_port), store_port_(opts_.store_port) {
        Spawn();
    }
    ~DevServer() { Stop(); }  // the data dir goes too
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    int store_port() const { return store_port_; }
    int api_port() const { return api_port_; }
    std::string store_endpoint() const { return "http://127.0.0.1:" + std::to_string(store_port_); }
    const std::string& data_dir() const { return data_dir_.path(); }
    const std::string& bucket() const { return opts_.bucket; }

    struct Credentials {
        std::string access_key_id, access_key_secret, security_token;
    };
    Credentials IssueCredentials();  // GET /getStsKey

    // Control interface; each throws std::runtime_error unless answered 200.
    void Reset() { ControlOk("/__dev/reset"); }
    void ExpireCredentials() {
        ControlOk("/__dev/expire-credentials");
        own_creds_ = {};
    }
    void AddFault(const std::string& json_rule) { ControlOk("/__dev/faults", json_rule); }
    void Settings(const std::string& json) { ControlOk("/__dev/settings", json); }
    void ScriptApi(const std::string& json) { ControlOk("/__dev/api-script", json); }

    struct Stats {
        long connections_accepted = 0;
        std::map<std::string, long> requests;
    };
    Stats GetStats();

    void Kill();  // SIGKILL now (simulated crash), keeps the data dir
    // Starts again on the same ports and data dir (stops a running server first).
    void Restart() {
        Stop();
        Spawn();
    }
    // SIGTERM and wait (SIGKILL after 30 s); the exit status (0 = clean
    // shutdown, 128 + signal when killed), -1 if not running.
    int Stop();

    struct Response {
        int status = 0;  // 0: no answer (connection failed or dropped)
        std::multimap<std::string, std::string> headers;  // names lower-cased
        std::string body;
        std::string header(const std::string& lower_name) const;
    };
    // Store request: method, path-style "/bucket/key?query" (percent-encoded),
    // body. Signed with the fixture's own credential unless `headers` holds
    // "Authorization" (sent as given; an empty value sends none).
    Response StoreExchange(const std::string& method, const std::string& target,
                           const std::string& body = "",
                           const std::map<std::string, std::string>& headers = {});
    // Adds Date, x-oss-security-token and Authorization for `creds` to
    // `headers`; the bucket comes from a virtual-hosted "Host" header if any.
    static void SignRequest(const Credentials& creds, const std::string& method,
                            const std::string& target, std::map<std::string, std::string>& headers);
    // Plain request to the web API: (status, body).
    std::pair<int, std::string> ApiRequest(const std::string& method, const std::string& target,
                                           const std::string& body = "");

private:
    void Spawn();
    void ControlOk(const std::string& path, const std::string& body = "");

    DevServerOptions opts_;
    TempDir data_dir_;
    pid_t pid_ = -1;
    int api_port_ = 0;
    int store_port_ = 0;
    Credentials own_creds_;
};

#endif  // TESTS_SUPPORT_DEVSERVER_H
