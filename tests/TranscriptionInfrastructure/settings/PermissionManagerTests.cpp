#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"

#include "support/PulseAudioServer.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

using Status = PermissionManager::Status;

class PermissionFixture : public ::testing::Test {
protected:
    std::shared_ptr<ConsentStore> consent() { return std::make_shared<ConsentStore>(m_dir.path() / "settings.ini"); }
    PermissionManager manager()
    {
        return PermissionManager(consent(), [] { return PulseAudioCapture::probeServer(); });
    }

    test::TemporaryDirectory m_dir;
};

TEST_F(PermissionFixture, Permissions_StayUndeterminedUntilTheUserConsentsAndAreRemembered)
{
    test::PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    auto permissions = manager();

    EXPECT_EQ(permissions.microphoneStatus(), Status::undetermined);
    EXPECT_EQ(permissions.speechRecognitionStatus(), Status::undetermined);
    EXPECT_FALSE(permissions.screenRecordingGranted());
    // The sound server really offers a monitor, whatever the consent says.
    EXPECT_TRUE(permissions.systemAudioAvailable());

    EXPECT_TRUE(permissions.requestMicrophone());
    EXPECT_TRUE(permissions.requestSpeechRecognition());
    EXPECT_TRUE(permissions.requestScreenRecording());
    auto later = manager();
    EXPECT_EQ(later.microphoneStatus(), Status::granted);
    EXPECT_EQ(later.speechRecognitionStatus(), Status::granted);
    EXPECT_TRUE(later.screenRecordingGranted());
}

TEST_F(PermissionFixture, Permissions_FollowWhatTheSoundServerOffers)
{
    auto permissions = manager();
    consent()->record(ConsentTopic::microphone, Consent::granted);
    consent()->record(ConsentTopic::screenRecording, Consent::granted);

    // Only an output: its monitor can be recorded, but there is no capture device.
    test::PulseAudioServer::Options outputOnly;
    outputOnly.pipeSources.clear();
    test::PulseAudioServer server(outputOnly);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    EXPECT_EQ(permissions.microphoneStatus(), Status::denied);
    EXPECT_FALSE(permissions.requestMicrophone());
    EXPECT_TRUE(permissions.screenRecordingGranted());

    server.kill();
    EXPECT_EQ(permissions.microphoneStatus(), Status::restricted);
    EXPECT_FALSE(permissions.screenRecordingGranted());
    EXPECT_FALSE(permissions.systemAudioAvailable());
}

TEST_F(PermissionFixture, Permissions_RecordedRefusalsReadAsDenied)
{
    auto permissions = PermissionManager(consent(), [] { return PulseAudioServerProbe{true, true, true}; });
    consent()->record(ConsentTopic::microphone, Consent::denied);
    consent()->record(ConsentTopic::speechRecognition, Consent::denied);
    consent()->record(ConsentTopic::screenRecording, Consent::denied);

    EXPECT_EQ(permissions.microphoneStatus(), Status::denied);
    EXPECT_EQ(permissions.speechRecognitionStatus(), Status::denied);
    EXPECT_FALSE(permissions.screenRecordingGranted());
    // Asking again is the user consenting in the app.
    EXPECT_TRUE(permissions.requestSpeechRecognition());
    EXPECT_EQ(permissions.speechRecognitionStatus(), Status::granted);
}

} // namespace
} // namespace tc
