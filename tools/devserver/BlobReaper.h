// Deletes files on a thread of its own. Freeing the blocks of a large file
// takes the file system milliseconds per file, which a request that replaces
// or deletes an object of many parts should not wait for.
#ifndef TOOLS_DEVSERVER_BLOBREAPER_H
#define TOOLS_DEVSERVER_BLOBREAPER_H

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace devserver {

class BlobReaper {
public:
    BlobReaper();
    // Deletes whatever is still queued, then stops the thread.
    ~BlobReaper();
    BlobReaper(const BlobReaper&) = delete;
    BlobReaper& operator=(const BlobReaper&) = delete;

    void Unlink(const std::string& path);

private:
    void Run();

    std::mutex mu_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace devserver

#endif  // TOOLS_DEVSERVER_BLOBREAPER_H
