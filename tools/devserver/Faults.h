// Faults on demand: scripted store failures, listing caps, scripted web API
// answers. Configured through the control interface; consulted per request.
#ifndef TOOLS_DEVSERVER_FAULTS_H
#define TOOLS_DEVSERVER_FAULTS_H

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace devserver {

// What the matching rules ask of one store request.
struct FaultDecision {
    int delay_ms = 0;
    bool error = false;  // answer with status/code/message instead of serving
    int status = 0;
    std::string code, message;
    long long close_after_bytes = -1;  // >= 0: cut the connection after that many body bytes
    bool bad_crc = false;              // corrupt x-oss-hash-crc64ecma
    // Body faults that keep the answer well framed (its Content-Length
    // matches what is sent): `alter_body` inverts `corrupt_length` bytes from
    // `corrupt_offset` (-1: the middle), then cuts the body to `keep_bytes`
    // (-1: whole; -2: half).
    bool alter_body = false;
    long long corrupt_offset = -1;
    long long corrupt_length = 0;
    long long keep_bytes = -1;
};

struct StoreSettings {
    bool ignore_range = false;
    int max_list_keys = 0;   // 0 = no cap
    int max_list_parts = 0;  // 0 = no cap
    // A GET holds the object it found, a copy its source and a completion its
    // parts this long, with changes held off, before opening or linking their
    // bytes (widens the window an overwrite or delete could use).
    int open_delay_ms = 0;
};

struct ApiScript {
    std::string path;
    int status = 500;
    std::string body;
    bool close = false;
    long count = 1;  // -1 = forever
};

class FaultBook {
public:
    void Reset();

    // Each returns false with `error` set when the JSON is not acceptable.
    bool AddRule(const std::string& json, std::string& error);
    bool ApplySettings(const std::string& json, std::string& error);
    bool AddApiScript(const std::string& json, std::string& error);

    // Consumes one use of every rule that matches. `query_keys` are the query
    // parameter names present on the request.
    FaultDecision Match(const std::string& method, const std::set<std::string>& query_keys,
                        const std::string& key);
    StoreSettings Settings();
    // Consumes one use of the first script for `path`.
    bool TakeApiScript(const std::string& path, ApiScript& out);

private:
    enum class Action { kError, kClose, kDelay, kBadCrc, kExpire, kCorruptBody, kTruncateBody };
    struct Rule {
        std::string method, subresource, key_contains;
        long count = 1;
        Action action = Action::kError;
        int status = 500;
        std::string code = "InternalError", message = "We encountered an internal error.";
        long long close_after_bytes = 0;
        int delay_ms = 0;
        long long corrupt_offset = -1, corrupt_length = 1;  // corrupt_body
        long long keep_bytes = -2;                          // truncate_body
    };

    std::mutex mu_;
    std::vector<Rule> rules_;
    std::vector<ApiScript> scripts_;
    StoreSettings settings_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_FAULTS_H
