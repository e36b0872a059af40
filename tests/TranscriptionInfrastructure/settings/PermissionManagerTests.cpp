#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"

#include "support/PulseAudioServer.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

using Status = PermissionManager::Status;

TEST(Permissions, StayUndeterminedUntilTheUserConsentsAreRememberedAndFollowTheSoundServer)
{
    test::PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    test::TemporaryDirectory dir;
    const auto consent = std::make_shared<ConsentStore>(dir.path() / "settings.ini");
    const auto manager = [&] {
        return PermissionManager(std::make_shared<ConsentStore>(dir.path() / "settings.ini"),
                                 [] { return PulseAudioCapture::probeServer(); });
    };
    auto permissions = manager();
    EXPECT_EQ(permissions.microphoneStatus(), Status::undetermined);
    EXPECT_EQ(permissions.speechRecognitionStatus(), Status::undetermined);
    EXPECT_FALSE(permissions.screenRecordingGranted());
    // The sound server really offers a monitor, whatever the consent says.
    EXPECT_TRUE(permissions.systemAudioAvailable());

    // Recorded refusals read as denied; asking again is the user consenting in the app.
    for (const auto topic : {ConsentTopic::microphone, ConsentTopic::speechRecognition, ConsentTopic::screenRecording})
        consent->record(topic, Consent::denied);
    EXPECT_EQ(permissions.microphoneStatus(), Status::denied);
    EXPECT_EQ(permissions.speechRecognitionStatus(), Status::denied);
    EXPECT_FALSE(permissions.screenRecordingGranted());
    EXPECT_TRUE(permissions.requestMicrophone());
    EXPECT_TRUE(permissions.requestSpeechRecognition());
    EXPECT_TRUE(permissions.requestScreenRecording());
    auto later = manager();
    EXPECT_EQ(later.microphoneStatus(), Status::granted);
    EXPECT_EQ(later.speechRecognitionStatus(), Status::granted);
    EXPECT_TRUE(later.screenRecordingGranted());

    // Only an output left: its monitor can be recorded, but there is no capture device.
    ASSERT_TRUE(server.unloadDevice("mic"));
    EXPECT_EQ(later.microphoneStatus(), Status::denied);
    EXPECT_FALSE(later.requestMicrophone());
    EXPECT_TRUE(later.screenRecordingGranted());
    server.kill();
    EXPECT_EQ(later.microphoneStatus(), Status::restricted);
    EXPECT_FALSE(later.screenRecordingGranted());
    EXPECT_FALSE(later.systemAudioAvailable());
}

} // namespace
} // namespace tc
