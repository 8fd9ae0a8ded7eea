#include "ControlRoutes.h"

#include <functional>

#include "Connections.h"
#include "JsonUtil.h"
#include "RequestEntry.h"
#include "TimeUtil.h"

namespace devserver {
namespace {

const char* kJson = "application/json";
const char* kOk = "{\"ok\":true}";
// Control bodies are one small JSON object.
constexpr unsigned long long kMaxControlBody = 1u << 20;

bool Refuse(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(JsonError(message), kJson);
    CloseAfterAnswer(res);
    return false;
}

// A POST command taking a JSON object. `apply` gets the body's text ("{}"
// for an empty body, unless the command needs one) and answers 200
// {"ok":true} or 400 {"error": ...}.
enum class EmptyBody { kIsObject, kRefused };
httplib::Server::Handler JsonCommand(std::function<bool(const std::string&, std::string&)> apply,
                                     EmptyBody empty = EmptyBody::kIsObject,
                                     const char* wanted = "") {
    return [apply, empty, wanted](const httplib::Request& req, httplib::Response& res) {
        std::string error = "not an object";
        if (req.body.empty() && empty == EmptyBody::kRefused) {
            error = std::string("the body must be ") + wanted;
        } else {
            const std::string body = req.body.empty() ? "{}" : req.body;
            JsonPtr json = ParseJson(body, &error);
            if (json && cJSON_IsObject(json.get())) {
                if (apply(body, error)) {
                    res.set_content(kOk, kJson);
                    return;
                }
            } else {
                error = "the body must be a JSON object (" + error + ")";
            }
        }
        res.status = 400;
        res.set_content(JsonError(error), kJson);
    };
}

}  // namespace

bool IsControlPath(const std::string& path) {
    return path.rfind("/__dev/", 0) == 0;
}

bool AdmitControlRequest(const httplib::Request& req, httplib::Response& res) {
    // Control connections are not counted in the store statistics.
    CurrentConnection().first_request = false;
    if (!IsLoopbackAddress(req.remote_addr))
        return Refuse(res, 403, "the control interface answers loopback clients only");
    if (!IsLoopbackHost(req.get_header_value("Host")))
        return Refuse(res, 403,
                      "the control interface answers requests for a loopback host only, not '" +
                          req.get_header_value("Host") + "'");
    const std::string length_problem = ContentLengthProblem(req);
    if (!length_problem.empty()) return Refuse(res, 400, length_problem);
    if (req.method == "POST" && MediaType(req.get_header_value("Content-Type")) != kJson)
        return Refuse(res, 415, "control requests are sent as Content-Type: application/json");
    if (req.get_header_value<uint64_t>("Content-Length") > kMaxControlBody)
        return Refuse(res, 413, "a control request's body is one small JSON object");
    return true;
}

void RegisterControlRoutes(httplib::Server& server, Database& db, FaultBook& faults, Stats& stats) {
    server.Post("/__dev/reset", JsonCommand([&](const std::string&, std::string&) {
                    faults.Reset();
                    stats.Reset();
                    return true;
                }));
    server.Post("/__dev/expire-credentials", JsonCommand([&](const std::string&, std::string&) {
                    db.ExpireAllCredentials(NowMillis() / 1000);
                    return true;
                }));
    server.Post("/__dev/faults",
                JsonCommand([&](const std::string& body,
                                std::string& error) { return faults.AddRule(body, error); },
                            EmptyBody::kRefused, "one fault rule as a JSON object"));
    server.Post("/__dev/settings", JsonCommand([&](const std::string& body, std::string& error) {
                    return faults.ApplySettings(body, error);
                }));
    server.Post("/__dev/api-script", JsonCommand([&](const std::string& body, std::string& error) {
                    return faults.AddApiScript(body, error);
                }));
    server.Get("/__dev/stats", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(stats.Json(), kJson);
    });
    server.Get("/__dev/health", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kOk, kJson);
    });
}

}  // namespace devserver
