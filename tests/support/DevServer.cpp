#include "tests/support/DevServer.h"

#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "JsonUtil.h"
#include "RequestText.h"
#include "Signer.h"
#include "TimeUtil.h"

#ifndef NIMBRA_DEVSERVER_PATH
#error "NIMBRA_DEVSERVER_PATH must name the nimbra-devserver binary"
#endif

std::string DevServer::Response::header(const std::string& lower_name) const {
    auto it = headers.find(lower_name);
    return it == headers.end() ? "" : it->second;
}

void DevServer::Spawn() {
    std::vector<std::string> args = {NIMBRA_DEVSERVER_PATH};
    args.insert(args.end(), {"--data-dir", data_dir(), "--host", "127.0.0.1", "--bucket",
                             opts_.bucket, "--api-port", std::to_string(api_port_), "--store-port",
                             std::to_string(store_port_)});
    if (opts_.allow_anonymous) args.push_back("--allow-anonymous");
    if (opts_.api_plain_http) args.push_back("--api-plain-http");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // A server that drops a connection mid-request must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // The server goes when the test process goes, even when it crashes.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    // "api-port N" and "store-port N", then "ready"; end of output without it
    // means the server failed.
    FILE* out = fdopen(fds[0], "r");
    char line[256];
    bool ready = false;
    while (!ready && fgets(line, sizeof line, out)) {
        sscanf(line, "api-port %d", &api_port_);
        sscanf(line, "store-port %d", &store_port_);
        ready = std::string(line) == "ready\n";
    }
    fclose(out);
    if (!ready) {
        Kill();
        throw std::runtime_error("nimbra-devserver did not become ready");
    }
}

int DevServer::Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    // A server that does not stop within the limit is killed (and reported
    // through the exit status).
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
        usleep(5000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void DevServer::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::pair<int, std::string> DevServer::ApiRequest(const std::string& method,
                                                  const std::string& target,
                                                  const std::string& body) {
    httplib::Client cli((opts_.api_plain_http ? "http" : "https") + std::string("://127.0.0.1:") +
                        std::to_string(api_port_));
    cli.enable_server_certificate_verification(false);
    cli.set_read_timeout(60);
    httplib::Result r = method == "POST" ? cli.Post(target.c_str(), body, "application/json")
                                         : cli.Get(target.c_str());
    if (!r) return {0, httplib::to_string(r.error())};
    return {r->status, r->body};
}

DevServer::Credentials DevServer::IssueCredentials() {
    auto r = ApiRequest("GET", "/getStsKey");
    devserver::JsonPtr j = devserver::ParseJson(r.second);
    Credentials c;
    bool found = false;
    if (r.first != 200 || !j ||
        !devserver::JsonGetString(j.get(), "AccessKeyId", c.access_key_id, found) ||
        !devserver::JsonGetString(j.get(), "AccessKeySecret", c.access_key_secret, found) ||
        !devserver::JsonGetString(j.get(), "SecurityToken", c.security_token, found))
        throw std::runtime_error("getStsKey failed: " + r.second);
    return c;
}

void DevServer::ControlOk(const std::string& path, const std::string& body) {
    httplib::Client cli("127.0.0.1", store_port_);
    httplib::Result r = cli.Post(path.c_str(), body, "application/json");
    if (!r || r->status != 200)
        throw std::runtime_error(path +
                                 " refused: " + (r ? r->body : httplib::to_string(r.error())));
}

DevServer::Stats DevServer::GetStats() {
    httplib::Client cli("127.0.0.1", store_port_);
    httplib::Result r = cli.Get("/__dev/stats");
    devserver::JsonPtr j = devserver::ParseJson(r ? r->body : "");
    if (!j) throw std::runtime_error("/__dev/stats failed");
    Stats s;
    const cJSON* conns = cJSON_GetObjectItemCaseSensitive(j.get(), "connections_accepted");
    s.connections_accepted = cJSON_IsNumber(conns) ? static_cast<long>(conns->valuedouble) : -1;
    const cJSON* reqs = cJSON_GetObjectItemCaseSensitive(j.get(), "requests");
    for (const cJSON* m = reqs ? reqs->child : nullptr; m; m = m->next)
        s.requests[m->string] = static_cast<long>(m->valuedouble);
    return s;
}

void DevServer::SignRequest(const Credentials& creds, const std::string& method,
                            const std::string& target,
                            std::map<std::string, std::string>& headers) {
    std::string path;
    devserver::KeyValues query;
    devserver::StoreAddress address;
    devserver::ParseTarget(target, path, query);
    devserver::KeyValues given(headers.begin(), headers.end());
    devserver::ResolveAddress(devserver::HeaderValue(given, "Host"), path, address);
    // The signed date is x-oss-date when the caller set one.
    std::string date = devserver::HeaderValue(given, "x-oss-date");
    headers["Date"] = devserver::HttpDate(devserver::NowMillis());
    headers["x-oss-security-token"] = creds.security_token;
    devserver::KeyValues all(headers.begin(), headers.end());
    const std::string to_sign = devserver::StringToSign(
        method, devserver::HeaderValue(all, "Content-MD5"),
        devserver::HeaderValue(all, "Content-Type"), date.empty() ? headers["Date"] : date,
        devserver::CanonicalizedOssHeaders(all),
        devserver::CanonicalizedResource(address.bucket, address.key, query));
    headers["Authorization"] = "OSS " + creds.access_key_id + ":" +
                               devserver::SignString(creds.access_key_secret, to_sign);
}

DevServer::Response DevServer::StoreExchange(const std::string& method, const std::string& target,
                                             const std::string& body,
                                             const std::map<std::string, std::string>& headers) {
    std::map<std::string, std::string> h = headers;
    if (!body.empty() && !h.count("Content-Type")) h["Content-Type"] = "application/octet-stream";
    auto auth = h.find("Authorization");
    if (auth == h.end()) {
        if (own_creds_.access_key_id.empty()) own_creds_ = IssueCredentials();
        SignRequest(own_creds_, method, target, h);
    } else if (auth->second.empty()) {
        h.erase(auth);
    }
    httplib::Client cli("127.0.0.1", store_port_);
    cli.set_read_timeout(120);
    cli.set_decompress(false);
    httplib::Request req;
    req.method = method;
    req.path = target;
    req.headers.insert(h.begin(), h.end());
    req.body = body;
    Response out;
    httplib::Result r = cli.send(req);
    if (!r) return out;
    out.status = r->status;
    out.body = r->body;
    for (const auto& kv : r->headers) {
        std::string name = kv.first;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.headers.emplace(name, kv.second);
    }
    return out;
}
