#include "TranscriptionInfrastructure/diagnostics/LatencyTrace.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tc {
namespace {

// The benchmark reads these marks from another process against its own steady clock: one whole line per mark,
// whatever the threads or the detail's text.
TEST(LatencyTrace, WritesOneWholeLinePerMarkOnTheSharedMonotonicClock)
{
    test::TemporaryDirectory dir;
    const auto file = dir.path() / "trace.tsv";
    // Read once per process: set before the first mark.
    ASSERT_EQ(setenv("TC_LATENCY_TRACE", file.c_str(), 1), 0);
    ASSERT_TRUE(LatencyTrace::enabled());

    const auto before = std::chrono::steady_clock::now().time_since_epoch();
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    LatencyTrace::mark("stage" + std::to_string(t), "line one\nline\ttwo");
            });
    }
    LatencyTrace::mark("last");
    const auto after = std::chrono::steady_clock::now().time_since_epoch();

    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 801U);
    for (const auto& line : lines) {
        std::istringstream fields(line);
        std::string stage, ns, detail, extra;
        std::getline(fields, stage, '\t');
        std::getline(fields, ns, '\t');
        std::getline(fields, detail, '\t');
        EXPECT_FALSE(std::getline(fields, extra)) << line;
        EXPECT_TRUE(stage.rfind("stage", 0) == 0 || stage == "last") << line;
        if (stage != "last") {
            EXPECT_EQ(detail, "line one line two");
        }
        const long long at = std::stoll(ns);
        EXPECT_GE(at, std::chrono::duration_cast<std::chrono::nanoseconds>(before).count());
        EXPECT_LE(at, std::chrono::duration_cast<std::chrono::nanoseconds>(after).count());
    }
    EXPECT_EQ(lines.back().rfind("last\t", 0), 0U);
}

} // namespace
} // namespace tc
