#include "ControlRoutes.h"

#include <cstdlib>
#include <functional>

#include "JsonUtil.h"
#include "RequestEntry.h"
#include "TimeUtil.h"

namespace devserver {
namespace {

const char* kJson = "application/json";
const char* kOk = "{\"ok\":true}";
// Control bodies are one small JSON object.
constexpr size_t kMaxControlBody = 1u << 20;
const char* kTooLarge = "a control request's body is one small JSON object";

// A POST command taking a JSON object. `apply` gets the body's text ("{}"
// for an empty body, unless the command needs one) and answers 200
// {"ok":true} or 400 {"error": ...}.
enum class EmptyBody { kIsObject, kRefused };
std::unique_ptr<Exchange> JsonCommand(std::function<bool(const std::string&, std::string&)> apply,
                                      EmptyBody empty = EmptyBody::kIsObject,
                                      const char* wanted = "") {
    auto reply = [apply, empty, wanted](const std::string& text) {
        std::string error = "not an object";
        if (text.empty() && empty == EmptyBody::kRefused) {
            error = std::string("the body must be ") + wanted;
        } else {
            const std::string body = text.empty() ? "{}" : text;
            JsonPtr json = ParseJson(body, &error);
            if (json && cJSON_IsObject(json.get())) {
                if (apply(body, error)) return JsonAnswer(200, kOk);
            } else {
                error = "the body must be a JSON object (" + error + ")";
            }
        }
        return JsonErrorAnswer(400, error);
    };
    return std::make_unique<DocumentExchange>(kMaxControlBody, JsonErrorAnswer(413, kTooLarge),
                                              reply);
}

}  // namespace

bool IsControlPath(const std::string& path) {
    return path.rfind("/__dev/", 0) == 0;
}

Answer ControlRoutes::Refuse(const HttpRequest&, int status, const std::string& message) {
    return JsonErrorAnswer(status, message);
}

bool ControlRoutes::Refused(const HttpRequest& r, Answer& refusal) {
    const std::string host = r.Header("Host");
    if (!IsLoopbackAddress(r.peer))
        refusal = Refuse(r, 403, "the control interface answers loopback clients only");
    else if (!IsLoopbackHost(host))
        refusal = Refuse(r, 403,
                         "the control interface answers requests for a loopback host "
                         "only, not '" +
                             host + "'");
    else if (r.method == "POST" && MediaType(r.Header("Content-Type")) != kJson)
        refusal = Refuse(r, 415, "control requests are sent as Content-Type: application/json");
    else if (std::strtoull(r.Header("Content-Length").c_str(), nullptr, 10) > kMaxControlBody)
        refusal = Refuse(r, 413, kTooLarge);
    else
        return false;
    refusal.close = true;
    return true;
}

std::unique_ptr<Exchange> ControlRoutes::Start(const HttpRequest& r) {
    Answer refusal;
    if (Refused(r, refusal)) return std::make_unique<FixedExchange>(std::move(refusal));
    const std::string& p = r.path;
    if (r.method == "POST") {
        if (p == "/__dev/reset")
            return JsonCommand([this](const std::string&, std::string&) {
                faults_.Reset();
                stats_.Reset();
                return true;
            });
        if (p == "/__dev/expire-credentials")
            return JsonCommand([this](const std::string&, std::string&) {
                db_.ExpireAllCredentials(NowMillis() / 1000);
                return true;
            });
        if (p == "/__dev/faults")
            return JsonCommand([this](const std::string& body,
                                      std::string& error) { return faults_.AddRule(body, error); },
                               EmptyBody::kRefused, "one fault rule as a JSON object");
        if (p == "/__dev/settings")
            return JsonCommand([this](const std::string& body, std::string& error) {
                return faults_.ApplySettings(body, error);
            });
        if (p == "/__dev/api-script")
            return JsonCommand([this](const std::string& body, std::string& error) {
                return faults_.AddApiScript(body, error);
            });
    }
    if (r.method == "GET" && p == "/__dev/stats")
        return std::make_unique<FixedExchange>(JsonAnswer(200, stats_.Json()));
    if (r.method == "GET" && p == "/__dev/health")
        return std::make_unique<FixedExchange>(JsonAnswer(200, kOk));
    return std::make_unique<FixedExchange>(JsonErrorAnswer(404, "no such control request"));
}

}  // namespace devserver
