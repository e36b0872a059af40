#include "TranscriptionInfrastructure/speech/EngineThreads.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace tc {
namespace {

TEST(EngineThreads, DecodingUsesBothCoresAfterRestartingWithPassiveWaiting)
{
    const char* preset = std::getenv("OMP_WAIT_POLICY");
    if (preset && std::string(preset) != "passive") GTEST_SKIP() << "OMP_WAIT_POLICY is set to " << preset;
    // The first run of this test does not come back from here: the process starts again with the policy set and
    // runs this test once more, knowing from the marker that it was restarted.
    const bool restarted = std::getenv("TC_TEST_RESTARTED") != nullptr;
    if (!preset) setenv("TC_TEST_RESTARTED", "1", 1);
    EngineThreads::restartWithPassiveWaiting();
    ASSERT_NE(std::getenv("OMP_WAIT_POLICY"), nullptr);
    EXPECT_EQ(std::string(std::getenv("OMP_WAIT_POLICY")), "passive");
    EXPECT_EQ(WhisperSpeechRecognitionEngine::decodingThreads(), 2);
    // Passive waiting alone made each decoded token twice as slow: the threads spin briefly first.
    if (restarted) {
        EXPECT_NE(std::getenv("GOMP_SPINCOUNT"), nullptr);
    }
}

} // namespace
} // namespace tc
