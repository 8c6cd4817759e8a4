// The diagnostic sink: lines from several threads arrive whole, and a capture gives back the sink it replaced.
#include "platform/diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/captured_diagnostics.h"

namespace vg {

TEST(Diagnostics, LinesFromThreadsArriveWholeAndCapturesNest) {
    test::CapturedDiagnostics outer;
    {
        test::CapturedDiagnostics inner;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i) report("thread " + std::to_string(t) + " line " + std::to_string(i));
            });
        for (auto& thread : threads) thread.join();
        auto lines = inner.lines();
        ASSERT_EQ(lines.size(), 800u);
        std::vector<std::string> expected;
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 200; ++i) expected.push_back("thread " + std::to_string(t) + " line " + std::to_string(i));
        std::sort(lines.begin(), lines.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(lines, expected);
    }
    report("after", DiagnosticStream::Error);
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"after"});
}

}  // namespace vg
