// The command line's pure pieces: the progress line's width.
#include <gtest/gtest.h>

#include "tools/nimbra/ProgressDisplay.h"

namespace {

using namespace cli;

TEST(CliProgress, LinesFitTheTerminal) {
    ProgressSnapshot s;
    s.verb = "download";
    s.bytes = 33LL << 20;
    s.total = 6LL << 30;
    s.rate = 120.3 * (1 << 20);
    s.seconds_left = 50000;
    for (bool paused : {false, true}) {
        s.paused = s.keys = paused;
        for (int columns : {8, 20, 30, 40, 50, 60, 80, 132}) {
            const std::string line = ProgressBarLine(s, columns);
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
            EXPECT_EQ(line.rfind("downloa", 0), 0u) << line;
        }
    }
}

}  // namespace
