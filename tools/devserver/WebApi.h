// The backup service's web API: short-lived store credentials and the users'
// backup records.
#ifndef TOOLS_DEVSERVER_WEBAPI_H
#define TOOLS_DEVSERVER_WEBAPI_H

#include <httplib.h>

#include "Database.h"
#include "Faults.h"

namespace devserver {

class WebApi {
public:
    WebApi(Database& db, FaultBook& faults, int sts_ttl_seconds)
        : db_(db), faults_(faults), sts_ttl_(sts_ttl_seconds) {}
    void Register(httplib::Server& server);

private:
    void GetStsKey(const httplib::Request& req, httplib::Response& res);
    void UploadUserInfo(const httplib::Request& req, httplib::Response& res);
    void GetUserSpace(const httplib::Request& req, httplib::Response& res);
    void GetUser(const httplib::Request& req, httplib::Response& res);
    void DeleteUser(const httplib::Request& req, httplib::Response& res);

    Database& db_;
    FaultBook& faults_;
    int sts_ttl_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_WEBAPI_H
