#include "TranscriptionInfrastructure/speech/ProcessorLoadGauge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

namespace tc {
namespace {

using Ticks = ProcessorLoadGauge::Ticks;

TEST(ProcessorLoadGauge, DecodingTakesOneThreadWhileACoreIsBusyElsewhereBetweenDecodings)
{
    // Idle and waiting for the disk leave a core free; stolen time does not.
    const auto ticks = ProcessorLoadGauge::parse("cpu  10 0 5 100 3 0 1 7 0 0");
    ASSERT_TRUE(ticks);
    EXPECT_EQ(ticks->total, 126U);
    EXPECT_EQ(ticks->busy, 23U);
    EXPECT_FALSE(ProcessorLoadGauge::parse("cpu0 10 0 5 100"));
    EXPECT_FALSE(ProcessorLoadGauge::parse("cpu 10 0"));
    EXPECT_FALSE(ProcessorLoadGauge::parse(""));

    ProcessorLoadGauge gauge(2);
    EXPECT_EQ(gauge.threadsFor(2), 2) << "no pause measured yet";
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
    // A pause of one second on two cores (200 ticks) with `cores` of them busy.
    const auto pause = [&](double cores) {
        gauge.decodingEnded(Ticks{busy, total});
        busy += static_cast<std::uint64_t>(cores * 100);
        total += 200;
        gauge.decodingBegins(Ticks{busy, total});
        // The decoding itself is not counted.
        busy += 150;
        total += 200;
    };
    pause(0.1);
    EXPECT_EQ(gauge.threadsFor(2), 2);
    pause(1.2);
    EXPECT_NEAR(gauge.busyCores(), 0.83, 0.01);
    EXPECT_EQ(gauge.threadsFor(2), 1);
    EXPECT_EQ(gauge.threadsFor(1), 1);
    // On eight cores the same load leaves room for both.
    ProcessorLoadGauge eight(8);
    eight.decodingEnded(Ticks{0, 0});
    eight.decodingBegins(Ticks{120, 800});
    EXPECT_EQ(eight.threadsFor(2), 2);
    // The other program stops: two threads again after a couple of quiet pauses.
    pause(0.0);
    pause(0.0);
    EXPECT_EQ(gauge.threadsFor(2), 2);
    // An unreadable file measures nothing.
    gauge.decodingEnded(std::nullopt);
    gauge.decodingBegins(Ticks{busy + 200, total + 200});
    EXPECT_EQ(gauge.threadsFor(2), 2);

    // The real processors, with a thread of ours keeping a core busy between two decodings.
    ProcessorLoadGauge real(static_cast<int>(std::thread::hardware_concurrency()));
    real.decodingEnded(ProcessorLoadGauge::read());
    // The thread spins until it has had half a second of a core, however long a loaded machine takes to give it.
    std::thread busyCore([] {
        const auto cpuSeconds = [] {
            timespec now{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
        };
        const double start = cpuSeconds();
        while (cpuSeconds() - start < 0.5) {
        }
    });
    busyCore.join();
    real.decodingBegins(ProcessorLoadGauge::read());
    EXPECT_GE(real.busyCores(), 0.7);
}

} // namespace
} // namespace tc
