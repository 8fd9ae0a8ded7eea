// The control interface under /__dev/ on the store port (loopback clients
// only): faults, settings, scripted web API answers, credential expiry, stats.
#ifndef TOOLS_DEVSERVER_CONTROLROUTES_H
#define TOOLS_DEVSERVER_CONTROLROUTES_H

#include <httplib.h>

#include "Database.h"
#include "Faults.h"
#include "Stats.h"

namespace devserver {

void RegisterControlRoutes(httplib::Server& server, Database& db, FaultBook& faults, Stats& stats);

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_CONTROLROUTES_H
