#include "Application.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "TimeUtil.h"
#include "Tls.h"

namespace devserver {
namespace {

std::string PrepareDataDir(const std::string& dir) {
    if (dir.empty()) throw std::runtime_error("--data-dir is required");
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot create data directory " + dir);
    return dir;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) throw std::runtime_error("cannot read " + path);
    return text.str();
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

HttpService& Application::StorePort::For(const HttpRequest& r) {
    if (IsControlPath(r.path)) return control_;
    return store_;
}

std::unique_ptr<Exchange> Application::StorePort::Start(const HttpRequest& request) {
    return For(request).Start(request);
}

Answer Application::StorePort::Refuse(const HttpRequest& request, int status,
                                      const std::string& message) {
    return For(request).Refuse(request, status, message);
}

Application::Application(const ServerOptions& options)
    : db_(PrepareDataDir(options.data_dir) + "/devserver.db"),
      blobs_(options.data_dir),
      auth_(db_, options.bucket, options.allow_anonymous),
      store_(db_, blobs_, faults_, stats_, auth_, stop_),
      control_(db_, faults_, stats_),
      store_port_(store_, control_),
      web_(db_, faults_, options.sts_ttl) {
    ReclaimOrphanedBlobs(db_, blobs_);
    db_.CreateBucket(options.bucket, NowMillis());
    HttpListener::Options api;
    api.name = "web API";
    api.host = options.host;
    api.port = options.api_port;
    if (!options.api_plain_http) {
        std::string cert, key;
        EnsureCertificate(options.data_dir, cert, key);
        api.tls_cert_pem = ReadText(cert);
        api.tls_key_pem = ReadText(key);
    }
    api.log_requests = options.log_requests;
    HttpListener::Options store;
    store.name = "store";
    store.host = options.host;
    store.port = options.store_port;
    store.log_requests = options.log_requests;
    // Store connections count, also those that close without a request, but
    // not those whose first request is a control request.
    store.on_connection = [this](const HttpRequest* first) {
        if (!first || !IsControlPath(first->path)) stats_.CountConnection();
    };
    api_listener_ = std::make_unique<HttpListener>(web_, std::move(api));
    store_listener_ = std::make_unique<HttpListener>(store_port_, std::move(store));
}

Application::~Application() {
    Stop();
}

void Application::Start() {
    api_listener_->Start();
    store_listener_->Start();
}

void Application::Stop() {
    // Fault delays end first, so that no connection's thread holds the stop up.
    stop_.Raise();
    api_listener_->Stop();
    store_listener_->Stop();
}

}  // namespace devserver
