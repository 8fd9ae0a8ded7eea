// A download's memory does not grow with the object: each download runs in a
// forked child whose peak resident size is compared with a small download's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Nimbra/OssOperate.h"
#include "tests/ops/OpsTestUtil.h"

namespace {

using opstest::ServerTest;

const long long kMiB = 1048576;

class Memory : public ServerTest {
protected:
    // Peak resident size in KiB of a child that downloads `key`; -1 on failure.
    long PeakKiBOfDownload(const std::string& key) {
        int fds[2];
        if (pipe(fds) != 0) return -1;
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            long peak = -1;
            if (DownloadFile(ep(), ak(), sk(), bucket(), tok(), key.c_str(),
                             dir_.file(key.substr(key.rfind('/') + 1)).c_str(), nullptr)) {
                struct rusage ru;
                getrusage(RUSAGE_SELF, &ru);
                peak = ru.ru_maxrss;
            }
            ssize_t n = write(fds[1], &peak, sizeof peak);
            _exit(n == sizeof peak ? 0 : 1);
        }
        close(fds[1]);
        long peak = -1;
        if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        return peak;
    }
};

TEST_F(Memory, PeakDoesNotGrowWithTheObject) {
    PutObject("mem/small", opstest::RandomBytes(4 * kMiB, 1));
    {
        std::string big = opstest::RandomBytes(48 * kMiB, 2);
        PutObject("mem/big", big);
    }  // the parent holds neither object when it forks
    const long small = PeakKiBOfDownload("mem/small");
    const long big = PeakKiBOfDownload("mem/big");
    ASSERT_GT(small, 0);
    ASSERT_GT(big, 0);
    EXPECT_EQ(ReadFileBytes(dir_.file("big")).size(), static_cast<size_t>(48 * kMiB));
    // A download that kept its chunks would need some 44 MiB more.
    EXPECT_LE(big, small + 6 * 1024) << "small " << small << " KiB, big " << big << " KiB";
}

}  // namespace
