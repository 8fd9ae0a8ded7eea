// The backup service's web API: short-lived store credentials and the users'
// backup records.
#ifndef TOOLS_DEVSERVER_WEBAPI_H
#define TOOLS_DEVSERVER_WEBAPI_H

#include "Database.h"
#include "Faults.h"
#include "HttpMessage.h"

namespace devserver {

class WebApi : public HttpService {
public:
    WebApi(Database& db, FaultBook& faults, int sts_ttl_seconds)
        : db_(db), faults_(faults), sts_ttl_(sts_ttl_seconds) {}
    // Scripted answers come first (a status and body, or a dropped
    // connection), then the routes.
    std::unique_ptr<Exchange> Start(const HttpRequest& request) override;
    Answer Refuse(const HttpRequest& request, int status, const std::string& message) override;

private:
    Answer GetStsKey();
    Answer UploadUserInfo(const std::string& body);
    // The GET routes, which take the decoded query.
    Answer GetUserSpace(const KeyValues& query);
    Answer GetUser(const KeyValues& query);
    Answer DeleteUser(const KeyValues& query);

    Database& db_;
    FaultBook& faults_;
    int sts_ttl_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_WEBAPI_H
