// Pause and stop flags as the manager sets them: the control state table.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Nimbra/COssManager.h"
#include "Nimbra/ControlFlags.h"

namespace {

class ControlFlags : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        gbIsNeedPause = false;
        gbIsNeedStopEx = false;
    }
    COssManager* m = COssManager::GetInstance();
};

TEST_F(ControlFlags, StartRunning) {
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, PauseAndContinue) {
    m->PauseDownload();
    EXPECT_TRUE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
    m->ContinueDownload();
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, ContinueWithoutPauseChangesNothing) {
    m->ContinueDownload();
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_FALSE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, StopFromRunningAndFromPaused) {
    m->Stop();
    EXPECT_TRUE(gbIsNeedStopEx);
    EXPECT_FALSE(gbIsNeedPause);
    Reset();
    m->PauseDownload();
    m->Stop();
    EXPECT_TRUE(gbIsNeedStopEx);
    EXPECT_TRUE(gbIsNeedPause);
}

TEST_F(ControlFlags, StopRequestedSurvivesPauseAndContinue) {
    m->Stop();
    m->PauseDownload();
    EXPECT_TRUE(gbIsNeedStopEx);
    m->ContinueDownload();  // clears only the pause
    EXPECT_FALSE(gbIsNeedPause);
    EXPECT_TRUE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, StopTwiceActsAsOnce) {
    m->Stop();
    m->Stop();
    EXPECT_TRUE(gbIsNeedStopEx);
    gbIsNeedStopEx = false;  // what the one transfer that consumes it does
    EXPECT_FALSE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, SetFromOtherThreads) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([this, i] {
            if (i % 2)
                m->PauseDownload();
            else
                m->Stop();
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(gbIsNeedPause);
    EXPECT_TRUE(gbIsNeedStopEx);
}

TEST_F(ControlFlags, SingletonIsStable) {
    EXPECT_EQ(COssManager::GetInstance(), m);
}

}  // namespace
