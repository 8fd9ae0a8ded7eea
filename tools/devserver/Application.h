// Assembles the two listeners (web API and object store) over one data
// directory and runs them until Stop().
#ifndef TOOLS_DEVSERVER_APPLICATION_H
#define TOOLS_DEVSERVER_APPLICATION_H

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "Auth.h"
#include "Database.h"
#include "Faults.h"
#include "ObjectFiles.h"
#include "Stats.h"
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
    int api_port() const { return api_port_; }
    int store_port() const { return store_port_; }

private:
    void Configure(httplib::Server& server, bool is_store);

    ServerOptions options_;
    Database db_;
    BlobStore blobs_;
    FaultBook faults_;
    Stats stats_;
    Authenticator auth_;
    StoreService store_;
    WebApi web_;
    std::unique_ptr<httplib::Server> api_server_;
    std::unique_ptr<httplib::Server> store_server_;
    std::thread api_thread_;
    std::thread store_thread_;
    int api_port_ = 0;
    int store_port_ = 0;
    bool stopped_ = false;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_APPLICATION_H
