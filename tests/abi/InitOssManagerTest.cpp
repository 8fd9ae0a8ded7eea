// The exported entry point, through libNimbra.so as a host links it.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "Nimbra/Nimbra.h"

namespace {

TEST(InitOssManager, NullPointerIsIgnored) {
    InitOssManager(nullptr);  // must simply return
    IOssManager* p = nullptr;
    InitOssManager(&p);
    EXPECT_NE(p, nullptr);
}

TEST(InitOssManager, EveryCallHandsOutTheSameObject) {
    IOssManager* a = nullptr;
    IOssManager* b = nullptr;
    InitOssManager(&a);
    InitOssManager(&b);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
}

TEST(InitOssManager, ConcurrentFirstCallsGiveOneObject) {
    constexpr int kThreads = 16;
    std::vector<IOssManager*> got(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&got, i] { InitOssManager(&got[i]); });
    }
    for (auto& t : threads) t.join();
    std::set<IOssManager*> distinct(got.begin(), got.end());
    EXPECT_EQ(distinct.size(), 1u);
    EXPECT_NE(*distinct.begin(), nullptr);
}

}  // namespace
