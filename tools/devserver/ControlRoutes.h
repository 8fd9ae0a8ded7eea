// The control interface under /__dev/ on the store port: faults, settings,
// scripted web API answers, credential expiry, stats. Only for loopback
// clients that name a loopback host, and POSTs only as application/json, so
// that a web page in a developer's browser cannot reach it.
#ifndef TOOLS_DEVSERVER_CONTROLROUTES_H
#define TOOLS_DEVSERVER_CONTROLROUTES_H

#include <httplib.h>

#include "Database.h"
#include "Faults.h"
#include "Stats.h"

namespace devserver {

// True for the paths of the control interface.
bool IsControlPath(const std::string& path);

// Checks a control request as it arrives, before its body is read: false,
// with the refusal as the answer, when it may not use the interface.
bool AdmitControlRequest(const httplib::Request& req, httplib::Response& res);

void RegisterControlRoutes(httplib::Server& server, Database& db, FaultBook& faults, Stats& stats);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_CONTROLROUTES_H
