// An IOssCallback that records every notification, copying listing pages
// and records out of the call (their data lives only during it).
#ifndef TESTS_SUPPORT_RECORDINGCALLBACK_H
#define TESTS_SUPPORT_RECORDINGCALLBACK_H

#include <functional>
#include <string>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace testcb {

struct Event {
    int result;
    int percent;
    bool has_data;
};

// What pData points to is told by the caller: listing pages or records.
enum class Payload { kNone, kPages, kRecords };

// Notifications come on the calling thread: reading them after the call needs no lock.
class RecordingCallback : public IOssCallback {
public:
    explicit RecordingCallback(Payload payload = Payload::kNone) : payload_(payload) {}

    void OnProgress(int nResult, int nPercent, void* pData) override {
        events_.push_back({nResult, nPercent, pData != nullptr});
        if (pData && payload_ == Payload::kPages)
            pages_.push_back(*static_cast<std::vector<_ST_RemotePathInfo>*>(pData));
        if (pData && payload_ == Payload::kRecords)
            records_.push_back(*static_cast<_ST_UserInfo*>(pData));
        if (hook) hook(nResult, nPercent);
    }

    const std::vector<Event>& events() const { return events_; }
    const std::vector<std::vector<_ST_RemotePathInfo>>& pages() const { return pages_; }
    const std::vector<_ST_UserInfo>& records() const { return records_; }
    // The notifications in order as "result:percent", "+" marking data.
    std::string trace() const {
        std::string text;
        for (const Event& e : events_)
            text += (text.empty() ? "" : " ") + std::to_string(e.result) + ":" +
                    std::to_string(e.percent) + (e.has_data ? "+" : "");
        return text;
    }

    // Runs after each notification is recorded.
    std::function<void(int result, int percent)> hook;

private:
    Payload payload_;
    std::vector<Event> events_;
    std::vector<std::vector<_ST_RemotePathInfo>> pages_;
    std::vector<_ST_UserInfo> records_;
};

}  // namespace testcb

#endif  // TESTS_SUPPORT_RECORDINGCALLBACK_H
