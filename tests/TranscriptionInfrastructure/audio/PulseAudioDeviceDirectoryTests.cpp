#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"

#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

using tc::AudioDeviceInfo;
using tc::PulseAudioDeviceDirectory;
using tc::test::PulseAudioServer;

TEST(PulseAudioDeviceDirectory, ListsRealInputsAndEveryOutputByDescriptionAndNothingWithoutAServer)
{
    PulseAudioServer::Options options;
    options.sinkDescription = "Built-in Speakers";
    options.extraSinks = {{"headphones", "USB Headphones"}};
    options.pipeSources = {{"deskmic", 48000, 1, "Desk Microphone"}, {"headset", 16000, 1, "Headset Microphone"}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();

    const PulseAudioDeviceDirectory directory;
    // The outputs' monitors are sources too, but no microphone.
    EXPECT_EQ(directory.inputs(),
              (std::vector<AudioDeviceInfo>{{"deskmic", "Desk Microphone"}, {"headset", "Headset Microphone"}}));
    EXPECT_EQ(directory.outputs(),
              (std::vector<AudioDeviceInfo>{{"out", "Built-in Speakers"}, {"headphones", "USB Headphones"}}));

    server.kill();
    EXPECT_TRUE(directory.inputs().empty());
    EXPECT_TRUE(directory.outputs().empty());
}
