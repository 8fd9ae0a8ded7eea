// Assembles the two listeners (web API and object store) over one data
// directory and runs them until Stop().
#ifndef TOOLS_DEVSERVER_APPLICATION_H
#define TOOLS_DEVSERVER_APPLICATION_H

#include <memory>
#include <string>

#include "Auth.h"
#include "ControlRoutes.h"
#include "Database.h"
#include "Faults.h"
#include "HttpListener.h"
#include "ObjectFiles.h"
#include "Stats.h"
#include "StopSignal.h"
#include "StoreServer.h"
#include "WebApi.h"

namespace devserver {

struct ServerOptions {
    std::string data_dir;
    std::string host = "127.0.0.1";
    int api_port = 18443;
    int store_port = 19000;
    std::string bucket = "nimbra-backup";
    int sts_ttl = 3600;
    bool api_plain_http = false;
    bool allow_anonymous = false;
    bool log_requests = false;
};

class Application {
public:
    explicit Application(const ServerOptions& options);  // throws std::runtime_error
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Binds both ports and starts serving; throws when a port cannot be bound.
    void Start();
    void Stop();
    int api_port() const { return api_listener_->port(); }
    int store_port() const { return store_listener_->port(); }

private:
    // The store port's service: the control interface under /__dev/, the
    // object store elsewhere.
    class StorePort : public HttpService {
    public:
        StorePort(StoreService& store, ControlRoutes& control) : store_(store), control_(control) {}
        std::unique_ptr<Exchange> Start(const HttpRequest& request) override;
        Answer Refuse(const HttpRequest& request, int status, const std::string& message) override;

    private:
        HttpService& For(const HttpRequest& request);
        StoreService& store_;
        ControlRoutes& control_;
    };

    Database db_;
    BlobStore blobs_;
    FaultBook faults_;
    Stats stats_;
    StopSignal stop_;
    Authenticator auth_;
    StoreService store_;
    ControlRoutes control_;
    StorePort store_port_;
    WebApi web_;
    std::unique_ptr<HttpListener> api_listener_;
    std::unique_ptr<HttpListener> store_listener_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_APPLICATION_H
