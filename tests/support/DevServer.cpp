#include "tests/support/DevServer.h"

#include <cjson/cJSON.h>
#include <fcntl.h>
#include <ftw.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "Signer.h"

#ifndef NIMBRA_DEVSERVER_PATH
#error "NIMBRA_DEVSERVER_PATH must name the nimbra-devserver binary"
#endif

namespace {

constexpr int kStartTimeoutMs = 60000;
constexpr int kStopTimeoutSeconds = 30;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct JsonFree {
    void operator()(cJSON* j) const { cJSON_Delete(j); }
};
using Json = std::unique_ptr<cJSON, JsonFree>;

std::string JsonString(const cJSON* obj, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(obj, name);
    return cJSON_IsString(item) ? item->valuestring : "";
}

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0) {
            out += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string HttpDateNow() {
    time_t now = time(nullptr);
    struct tm tm_utc;
    gmtime_r(&now, &tm_utc);
    char buf[64];
    strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm_utc);
    return buf;
}

std::string FindHeader(const std::map<std::string, std::string>& headers, const std::string& name) {
    for (const auto& h : headers)
        if (Lower(h.first) == Lower(name)) return h.second;
    return "";
}

bool HasHeader(const std::map<std::string, std::string>& headers, const std::string& name) {
    for (const auto& h : headers)
        if (Lower(h.first) == Lower(name)) return true;
    return false;
}

}  // namespace

std::string DevServer::Response::header(const std::string& lower_name) const {
    auto it = headers.find(lower_name);
    return it == headers.end() ? "" : it->second;
}

DevServer::DevServer(DevServerOptions opts) : opts_(std::move(opts)) {
    if (opts_.data_dir.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/nimbra-devserver-XXXXXX";
        if (mkdtemp(&tmpl[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
        data_dir_ = tmpl;
        owns_dir_ = true;
    } else {
        data_dir_ = opts_.data_dir;
    }
    api_port_ = opts_.api_port;
    store_port_ = opts_.store_port;
    try {
        Spawn();
    } catch (...) {
        if (owns_dir_) nftw(data_dir_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
        throw;
    }
}

DevServer::~DevServer() {
    Stop();
    if (owns_dir_) nftw(data_dir_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void DevServer::Spawn() {
    // NIMBRA_DEVSERVER names another build's binary, e.g. an uninstrumented
    // server for tests built under ThreadSanitizer.
    const char* binary = std::getenv("NIMBRA_DEVSERVER");
    std::vector<std::string> args = {binary && *binary ? binary : NIMBRA_DEVSERVER_PATH,
                                     "--data-dir",
                                     data_dir_,
                                     "--host",
                                     "127.0.0.1",
                                     "--api-port",
                                     std::to_string(api_port_),
                                     "--store-port",
                                     std::to_string(store_port_),
                                     "--bucket",
                                     opts_.bucket,
                                     "--sts-ttl",
                                     std::to_string(opts_.sts_ttl)};
    if (opts_.api_plain_http) args.push_back("--api-plain-http");
    if (opts_.allow_anonymous) args.push_back("--allow-anonymous");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // A server that drops a connection mid-request must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        // The server goes when the test process goes, even when it crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;

    // Read "api-port N", "store-port N" and "ready".
    std::string buffer;
    bool ready = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (!ready) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char chunk[256];
        ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n <= 0) break;
        buffer.append(chunk, static_cast<size_t>(n));
        size_t nl;
        while ((nl = buffer.find('\n')) != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            if (line.rfind("api-port ", 0) == 0) api_port_ = std::atoi(line.c_str() + 9);
            if (line.rfind("store-port ", 0) == 0) store_port_ = std::atoi(line.c_str() + 11);
            if (line == "ready") ready = true;
        }
    }
    close(fds[0]);
    if (!ready) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        throw std::runtime_error("nimbra-devserver did not become ready (data dir " + data_dir_ +
                                 ")");
    }
}

int DevServer::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    // A server that does not stop within the limit is killed (and reported
    // through the exit status).
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopTimeoutSeconds);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        usleep(5000);
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void DevServer::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void DevServer::Restart() {
    Stop();
    Spawn();
}

std::string DevServer::store_endpoint() const {
    return "http://127.0.0.1:" + std::to_string(store_port_);
}

std::string DevServer::api_url() const {
    return std::string(opts_.api_plain_http ? "http" : "https") +
           "://127.0.0.1:" + std::to_string(api_port_);
}

std::pair<int, std::string> DevServer::ApiRequest(const std::string& method,
                                                  const std::string& target,
                                                  const std::string& body,
                                                  const std::string& content_type) {
    std::unique_ptr<httplib::Client> cli;
    cli = std::make_unique<httplib::Client>(api_url());
    cli->enable_server_certificate_verification(false);
    cli->set_connection_timeout(10);
    cli->set_read_timeout(60);
    httplib::Result r = method == "POST" ? cli->Post(target.c_str(), body, content_type.c_str())
                                         : cli->Get(target.c_str());
    if (!r) return {0, httplib::to_string(r.error())};
    return {r->status, r->body};
}

DevServer::Credentials DevServer::IssueCredentials() {
    auto r = ApiRequest("GET", "/getStsKey");
    if (r.first != 200) throw std::runtime_error("getStsKey failed: " + r.second);
    Json j(cJSON_Parse(r.second.c_str()));
    if (!j) throw std::runtime_error("getStsKey answered no JSON: " + r.second);
    Credentials c;
    c.access_key_id = JsonString(j.get(), "AccessKeyId");
    c.access_key_secret = JsonString(j.get(), "AccessKeySecret");
    c.security_token = JsonString(j.get(), "SecurityToken");
    return c;
}

std::pair<int, std::string> DevServer::Control(const std::string& method, const std::string& path,
                                               const std::string& body) {
    httplib::Client cli("127.0.0.1", store_port_);
    cli.set_connection_timeout(10);
    httplib::Result r =
        method == "POST" ? cli.Post(path.c_str(), body, "application/json") : cli.Get(path.c_str());
    if (!r) return {0, httplib::to_string(r.error())};
    return {r->status, r->body};
}

void DevServer::ControlOk(const std::string& path, const std::string& body) {
    auto r = Control("POST", path, body);
    if (r.first != 200)
        throw std::runtime_error(path + " answered " + std::to_string(r.first) + ": " + r.second);
}

void DevServer::Reset() {
    ControlOk("/__dev/reset");
}

void DevServer::ExpireCredentials() {
    ControlOk("/__dev/expire-credentials");
    have_own_creds_ = false;
}

void DevServer::AddFault(const std::string& json_rule) {
    ControlOk("/__dev/faults", json_rule);
}
void DevServer::Settings(const std::string& json) {
    ControlOk("/__dev/settings", json);
}
void DevServer::ScriptApi(const std::string& json) {
    ControlOk("/__dev/api-script", json);
}

DevServer::Stats DevServer::GetStats() {
    auto r = Control("GET", "/__dev/stats");
    if (r.first != 200) throw std::runtime_error("/__dev/stats failed: " + r.second);
    Json j(cJSON_Parse(r.second.c_str()));
    if (!j) throw std::runtime_error("/__dev/stats answered no JSON");
    Stats s;
    const cJSON* conns = cJSON_GetObjectItemCaseSensitive(j.get(), "connections_accepted");
    if (cJSON_IsNumber(conns)) s.connections_accepted = static_cast<long>(conns->valuedouble);
    const cJSON* reqs = cJSON_GetObjectItemCaseSensitive(j.get(), "requests");
    for (const cJSON* m = reqs ? reqs->child : nullptr; m; m = m->next)
        if (cJSON_IsNumber(m) && m->string)
            s.requests[m->string] = static_cast<long>(m->valuedouble);
    return s;
}

void DevServer::SignRequest(const Credentials& creds, const std::string& method,
                            const std::string& target,
                            std::map<std::string, std::string>& headers) {
    size_t q = target.find('?');
    std::string path = Decode(target.substr(0, q));
    std::vector<std::pair<std::string, std::string>> query;
    if (q != std::string::npos) {
        std::string rest = target.substr(q + 1);
        size_t pos = 0;
        while (pos <= rest.size()) {
            size_t amp = rest.find('&', pos);
            if (amp == std::string::npos) amp = rest.size();
            std::string piece = rest.substr(pos, amp - pos);
            if (!piece.empty()) {
                size_t eq = piece.find('=');
                query.emplace_back(Decode(piece.substr(0, eq)),
                                   eq == std::string::npos ? "" : Decode(piece.substr(eq + 1)));
            }
            pos = amp + 1;
        }
    }
    // Virtual-hosted when a Host header names "<bucket>.<host>" (not an IP).
    std::string bucket, key;
    std::string host = FindHeader(headers, "Host");
    std::string host_name = host.substr(0, host.rfind(':'));
    bool virtual_hosted = !host_name.empty() && host_name != "localhost" &&
                          host_name.find('.') != std::string::npos &&
                          host_name.find_first_not_of("0123456789.") != std::string::npos;
    if (virtual_hosted) {
        bucket = host_name.substr(0, host_name.find('.'));
        key = path.substr(1);
    } else {
        size_t slash = path.find('/', 1);
        bucket = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        key = slash == std::string::npos ? "" : path.substr(slash + 1);
    }
    std::string date = HttpDateNow();
    headers["Date"] = date;
    // The signed date is x-oss-date when the caller set one.
    if (HasHeader(headers, "x-oss-date")) date = FindHeader(headers, "x-oss-date");
    headers["x-oss-security-token"] = creds.security_token;
    std::vector<std::pair<std::string, std::string>> list(headers.begin(), headers.end());
    std::string sts = devserver::StringToSign(method, FindHeader(headers, "Content-MD5"),
                                              FindHeader(headers, "Content-Type"), date,
                                              devserver::CanonicalizedOssHeaders(list),
                                              devserver::CanonicalizedResource(bucket, key, query));
    headers["Authorization"] =
        "OSS " + creds.access_key_id + ":" + devserver::SignString(creds.access_key_secret, sts);
}

DevServer::Response DevServer::StoreExchange(const std::string& method, const std::string& target,
                                             const std::string& body,
                                             const std::map<std::string, std::string>& headers) {
    std::map<std::string, std::string> h = headers;
    if (!body.empty() && !HasHeader(h, "Content-Type"))
        h["Content-Type"] = "application/octet-stream";
    if (!HasHeader(h, "Authorization")) {
        if (!have_own_creds_) {
            own_creds_ = IssueCredentials();
            have_own_creds_ = true;
        }
        SignRequest(own_creds_, method, target, h);
    } else if (FindHeader(h, "Authorization").empty()) {
        for (auto it = h.begin(); it != h.end();) {
            it = Lower(it->first) == "authorization" ? h.erase(it) : std::next(it);
        }
    }
    httplib::Client cli("127.0.0.1", store_port_);
    cli.set_connection_timeout(10);
    cli.set_read_timeout(120);
    cli.set_decompress(false);
    httplib::Request req;
    req.method = method;
    req.path = target;
    for (const auto& kv : h) req.headers.emplace(kv.first, kv.second);
    req.body = body;
    Response out;
    httplib::Result r = cli.send(req);
    if (!r) {
        out.body = httplib::to_string(r.error());
        return out;
    }
    out.status = r->status;
    out.body = r->body;
    for (const auto& kv : r->headers) out.headers.emplace(Lower(kv.first), kv.second);
    return out;
}

std::pair<int, std::string> DevServer::StoreRequest(
    const std::string& method, const std::string& target, const std::string& body,
    const std::map<std::string, std::string>& headers) {
    Response r = StoreExchange(method, target, body, headers);
    return {r.status, r.body};
}
