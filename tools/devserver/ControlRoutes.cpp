#include "ControlRoutes.h"

#include <functional>

#include "Connections.h"
#include "JsonUtil.h"
#include "TimeUtil.h"

namespace devserver {
namespace {

const char* kJson = "application/json";
const char* kOk = "{\"ok\":true}";

bool IsLoopback(const std::string& addr) {
    return addr.rfind("127.", 0) == 0 || addr == "::1" || addr.rfind("::ffff:127.", 0) == 0;
}

// Wraps a control handler: loopback check, and the connection is not one the
// store statistics count.
httplib::Server::Handler Guard(
    std::function<void(const httplib::Request&, httplib::Response&)> fn) {
    return [fn](const httplib::Request& req, httplib::Response& res) {
        CurrentConnection().first_request = false;
        if (!IsLoopback(req.remote_addr)) {
            res.status = 403;
            res.set_content(JsonError("the control interface answers loopback clients only"),
                            kJson);
            return;
        }
        fn(req, res);
    };
}

// Applies `apply` to the body; 200 {"ok":true} or 400 {"error": ...}.
httplib::Server::Handler JsonCommand(std::function<bool(const std::string&, std::string&)> apply) {
    return Guard([apply](const httplib::Request& req, httplib::Response& res) {
        std::string error;
        if (!apply(req.body, error)) {
            res.status = 400;
            res.set_content(JsonError(error), kJson);
            return;
        }
        res.set_content(kOk, kJson);
    });
}

}  // namespace

void RegisterControlRoutes(httplib::Server& server, Database& db, FaultBook& faults, Stats& stats) {
    server.Post("/__dev/reset", Guard([&](const httplib::Request&, httplib::Response& res) {
                    faults.Reset();
                    stats.Reset();
                    res.set_content(kOk, kJson);
                }));
    server.Post("/__dev/expire-credentials",
                Guard([&](const httplib::Request&, httplib::Response& res) {
                    db.ExpireAllCredentials(NowMillis() / 1000);
                    res.set_content(kOk, kJson);
                }));
    server.Post("/__dev/faults", JsonCommand([&](const std::string& body, std::string& error) {
                    return faults.AddRule(body, error);
                }));
    server.Post("/__dev/settings", JsonCommand([&](const std::string& body, std::string& error) {
                    return faults.ApplySettings(body, error);
                }));
    server.Post("/__dev/api-script", JsonCommand([&](const std::string& body, std::string& error) {
                    return faults.AddApiScript(body, error);
                }));
    server.Get("/__dev/stats", Guard([&](const httplib::Request&, httplib::Response& res) {
                   res.set_content(stats.Json(), kJson);
               }));
    server.Get("/__dev/health", Guard([](const httplib::Request&, httplib::Response& res) {
                   res.set_content(kOk, kJson);
               }));
}

}  // namespace devserver
