#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"

#include "support/EvolutionDataServerSession.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tc {
namespace {

using namespace std::chrono_literals;

// A desktop whose session bus has no calendar service (a minimal window manager, a container): the source gives
// up within its timeout, lists nothing and prints nothing.
TEST(DesktopCalendarWithoutService, TheSourceGivesUpQuietlyWithinItsTimeout)
{
    test::EvolutionDataServerSession session(false);
    ASSERT_TRUE(session.isRunning()) << session.startError();
    test::TemporaryDirectory dir;
    const auto log = dir.path() / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    const auto started = std::chrono::steady_clock::now();
    {
        EvolutionDataServerCalendarSource source(2000ms);
        EXPECT_TRUE(source.eventsBetween(0, 86400, {}).empty());
        EXPECT_TRUE(source.waitUntilSettled(10s));
        EXPECT_FALSE(source.available());
        EXPECT_TRUE(source.calendars().empty());
    }
    const auto took = std::chrono::steady_clock::now() - started;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    EXPECT_EQ(test::readText(log), "") << "no GLib warnings or criticals";
    EXPECT_LT(took, 10s) << "the first query waits at most for the registry's timeout";
}

} // namespace
} // namespace tc
