#include "Stats.h"

#include "JsonUtil.h"

namespace devserver {

void Stats::CountConnection() {
    std::lock_guard<std::mutex> lock(mu_);
    ++connections_;
}

void Stats::CountRequest(const std::string& operation) {
    std::lock_guard<std::mutex> lock(mu_);
    ++requests_[operation];
}

void Stats::Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    connections_ = 0;
    requests_.clear();
}

std::string Stats::Json() {
    std::lock_guard<std::mutex> lock(mu_);
    JsonPtr j(cJSON_CreateObject());
    cJSON_AddNumberToObject(j.get(), "connections_accepted", static_cast<double>(connections_));
    cJSON* r = cJSON_AddObjectToObject(j.get(), "requests");
    for (const auto& kv : requests_)
        cJSON_AddNumberToObject(r, kv.first.c_str(), static_cast<double>(kv.second));
    return JsonText(j.get());
}

}  // namespace devserver
