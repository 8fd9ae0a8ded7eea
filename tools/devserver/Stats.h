// Counters of the store port: accepted connections and requests per operation.
#ifndef TOOLS_DEVSERVER_STATS_H
#define TOOLS_DEVSERVER_STATS_H

#include <map>
#include <mutex>
#include <string>

namespace devserver {

class Stats {
public:
    void CountConnection();
    void CountRequest(const std::string& operation);
    void Reset();
    // {"connections_accepted": N, "requests": {"<operation>": n, ...}}
    std::string Json();

private:
    std::mutex mu_;
    long connections_ = 0;
    std::map<std::string, long> requests_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_STATS_H
