#include "Application.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <limits>
#include <set>
#include <stdexcept>

#include "Connections.h"
#include "ControlRoutes.h"
#include "TimeUtil.h"
#include "Tls.h"

namespace devserver {
namespace {

constexpr size_t kKeepAliveMaxCount = 100000;
constexpr time_t kKeepAliveTimeoutSeconds = 30;
constexpr time_t kIoTimeoutSeconds = 60;
constexpr size_t kApiMaxBody = 1u << 20;

std::string PrepareDataDir(const std::string& dir) {
    if (dir.empty()) throw std::runtime_error("--data-dir is required");
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create data directory " + dir);
    return dir;
}

// Blob files that nothing in the database names are what a crash left
// between a blob's move into place and its commit, or between a commit and
// the removal of the blobs it replaced: nothing can reach them, so they go.
void ReclaimOrphanedBlobs(Database& db, const BlobStore& blobs) {
    size_t removed = 0, missing = 0;
    for (BlobKind kind : {BlobKind::kObject, BlobKind::kPart}) {
        size_t absent = 0;
        removed += blobs.Reclaim(kind, db.NamedBlobs(kind), absent);
        missing += absent;
    }
    if (removed > 0) std::cerr << "reclaimed " << removed << " orphaned blob files" << std::endl;
    if (missing > 0)
        std::cerr << missing << " blob files named in the database are missing" << std::endl;
}

}  // namespace

Application::Application(const ServerOptions& options)
    : options_(options),
      db_(PrepareDataDir(options.data_dir) + "/devserver.db"),
      blobs_(options.data_dir),
      auth_(db_, options.bucket, options.allow_anonymous),
      store_(db_, blobs_, faults_, stats_, auth_),
      web_(db_, faults_, options.sts_ttl) {
    ReclaimOrphanedBlobs(db_, blobs_);
    db_.CreateBucket(options_.bucket, NowMillis());
    if (options_.api_plain_http) {
        api_server_ = std::make_unique<httplib::Server>();
    } else {
        std::string cert, key;
        EnsureCertificate(options_.data_dir, cert, key);
        auto tls = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
        if (!tls->is_valid()) throw std::runtime_error("cannot load the web API certificate");
        api_server_ = std::move(tls);
    }
    store_server_ = std::make_unique<httplib::Server>();
    Configure(*api_server_, false);
    Configure(*store_server_, true);
    web_.Register(*api_server_);
    RegisterControlRoutes(*store_server_, db_, faults_, stats_);
    store_.Register(*store_server_);
}

Application::~Application() {
    Stop();
}

void Application::Configure(httplib::Server& server, bool is_store) {
    // Answers go out in more than one write; without TCP_NODELAY, Nagle and
    // the client's delayed ACK add ~40 ms to every kept-alive request.
    server.set_tcp_nodelay(true);
    // SO_REUSEADDR only (cpp-httplib's default is SO_REUSEPORT, which lets a
    // second server silently share a fixed port): a restart rebinds over
    // TIME_WAIT, while a port that another server holds is refused.
    server.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_keep_alive_max_count(kKeepAliveMaxCount);
    server.set_keep_alive_timeout(kKeepAliveTimeoutSeconds);
    server.set_read_timeout(kIoTimeoutSeconds);
    server.set_write_timeout(kIoTimeoutSeconds);
    server.set_payload_max_length(is_store ? std::numeric_limits<size_t>::max() : kApiMaxBody);
    Stats* stats = is_store ? &stats_ : nullptr;
    server.new_task_queue = [stats] {
        // A store connection that closes without a request still counts.
        return new ThreadPerConnection(
            stats ? std::function<void()>([stats] { stats->CountConnection(); })
                  : std::function<void()>());
    };
    if (is_store) {
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            PrepareRequest(req);
            const bool admitted =
                IsControlPath(req.path) ? AdmitControlRequest(req, res) : store_.Admit(req, res);
            return admitted ? httplib::Server::HandlerResponse::Unhandled
                            : httplib::Server::HandlerResponse::Handled;
        });
        // Answers that httplib makes itself carry a request id too.
        server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.has_header("x-oss-request-id"))
                res.set_header("x-oss-request-id", NewRequestId());
        });
    }
    // The logger runs once an answer is written.
    const char* name = is_store ? "store" : "api";
    const bool log = options_.log_requests;
    server.set_logger([name, log](const httplib::Request& req, const httplib::Response& res) {
        if (log)
            std::cerr << name << " " << req.method << " " << req.target << " -> " << res.status
                      << std::endl;
        EndConnectionIfClosing(req, res);
    });
}

void Application::Start() {
    auto bind = [this](httplib::Server& s, int port, const char* what) {
        if (port == 0) {
            int p = s.bind_to_any_port(options_.host);
            if (p <= 0) throw std::runtime_error(std::string("cannot bind the ") + what + " port");
            return p;
        }
        if (!s.bind_to_port(options_.host, port))
            throw std::runtime_error(std::string("cannot bind the ") + what + " port " +
                                     std::to_string(port));
        return port;
    };
    api_port_ = bind(*api_server_, options_.api_port, "web API");
    store_port_ = bind(*store_server_, options_.store_port, "store");
    api_thread_ = std::thread([this] { api_server_->listen_after_bind(); });
    store_thread_ = std::thread([this] { store_server_->listen_after_bind(); });
    // "ready" must mean accepting: and httplib's stop() only reaches a
    // server whose accept loop runs, so a stop right after start would
    // otherwise leave the threads waiting in accept forever.
    while (!api_server_->is_running() || !store_server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void Application::Stop() {
    if (stopped_) return;
    stopped_ = true;
    api_server_->stop();
    store_server_->stop();
    // Connections waiting in keep-alive would otherwise hold the workers.
    std::set<int> ports;
    if (api_port_ > 0) ports.insert(api_port_);
    if (store_port_ > 0) ports.insert(store_port_);
    ShutdownConnections(ports);
    if (api_thread_.joinable()) api_thread_.join();
    if (store_thread_.joinable()) store_thread_.join();
}

}  // namespace devserver
