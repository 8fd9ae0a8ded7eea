// An IOssCallback that records every notification, copying listing pages
// and records out of the call (their data lives only during it).
#ifndef TESTS_SUPPORT_RECORDINGCALLBACK_H
#define TESTS_SUPPORT_RECORDINGCALLBACK_H

#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace testcb {

struct Event {
    int result;
    int percent;
    bool has_data;
    bool operator==(const Event& o) const {
        return result == o.result && percent == o.percent && has_data == o.has_data;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Event& e) {
    return os << "(" << e.result << ", " << e.percent << (e.has_data ? ", data)" : ", null)");
}

// What pData points to is told by the caller: listing pages or records.
enum class Payload { kNone, kPages, kRecords };

class RecordingCallback : public IOssCallback {
public:
    explicit RecordingCallback(Payload payload = Payload::kNone) : payload_(payload) {}

    void OnProgress(int nResult, int nPercent, void* pData) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back({nResult, nPercent, pData != nullptr});
            if (pData && payload_ == Payload::kPages)
                pages_.push_back(*static_cast<std::vector<_ST_RemotePathInfo>*>(pData));
            if (pData && payload_ == Payload::kRecords)
                records_.push_back(*static_cast<_ST_UserInfo*>(pData));
        }
        if (hook) hook(nResult, nPercent);
    }

    std::vector<Event> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<std::vector<_ST_RemotePathInfo>> pages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return pages_;
    }
    std::vector<_ST_UserInfo> records() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    // Notifications with nPercent 100, which must be exactly one per transfer.
    int finals() const {
        int n = 0;
        for (const Event& e : events()) n += e.percent == 100;
        return n;
    }
    Event last() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.empty() ? Event{-99, -99, false} : events_.back();
    }

    // Runs on the notifying thread after each notification is recorded.
    std::function<void(int result, int percent)> hook;

private:
    Payload payload_;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::vector<std::vector<_ST_RemotePathInfo>> pages_;
    std::vector<_ST_UserInfo> records_;
};

}  // namespace testcb

#endif  // TESTS_SUPPORT_RECORDINGCALLBACK_H
