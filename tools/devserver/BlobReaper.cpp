#include "BlobReaper.h"

#include <unistd.h>

namespace devserver {

BlobReaper::BlobReaper() : thread_([this] { Run(); }) {}

BlobReaper::~BlobReaper() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void BlobReaper::Unlink(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        queue_.push_back(path);
    }
    wake_.notify_one();
}

void BlobReaper::Run() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, nothing left
        std::string path = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        unlink(path.c_str());
        lock.lock();
    }
}

}  // namespace devserver
