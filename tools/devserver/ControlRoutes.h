// The control interface under /__dev/ on the store port: faults, settings,
// scripted web API answers, credential expiry, stats. Only for loopback
// clients that name a loopback host, and POSTs only as application/json, so
// that a web page in a developer's browser cannot reach it.
#ifndef TOOLS_DEVSERVER_CONTROLROUTES_H
#define TOOLS_DEVSERVER_CONTROLROUTES_H

#include "Database.h"
#include "Faults.h"
#include "HttpMessage.h"
#include "Stats.h"

namespace devserver {

// True for the paths of the control interface.
bool IsControlPath(const std::string& path);

class ControlRoutes : public HttpService {
public:
    ControlRoutes(Database& db, FaultBook& faults, Stats& stats)
        : db_(db), faults_(faults), stats_(stats) {}
    std::unique_ptr<Exchange> Start(const HttpRequest& request) override;
    Answer Refuse(const HttpRequest& request, int status, const std::string& message) override;

private:
    // A refusal as the request arrives, before its body is read; the
    // connection ends with it. False when the request may go on.
    bool Refused(const HttpRequest& request, Answer& refusal);

    Database& db_;
    FaultBook& faults_;
    Stats& stats_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_CONTROLROUTES_H
