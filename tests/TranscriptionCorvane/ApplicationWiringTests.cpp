#include "TranscriptionCorvane/ApplicationWiring.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/settings/SettingsWindow.h"

#include "support/AudioSignals.h"
#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"
#include "support/QtTestApplication.h"
#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/TemporaryDirectory.h"

#include <QComboBox>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace tc {
namespace {

// The application's pipeline reads the "speech/model" choice each time a run builds it: no restart needed, and a
// choice that cannot be used is a notice while the model in use carries on.
TEST(ApplicationWiring, ViewModelPipeline_ReadsTheSpeechModelChoiceAtEachRunStart)
{
    // The user's own settings and models stay untouched.
    test::TemporaryDirectory home;
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    test::qtApplication();
    QCoreApplication::setOrganizationName(QStringLiteral("transcription-corvane-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("defaults"));

    const auto dependencies = ApplicationWiring::viewModel();
    const auto runStart = [&] {
        std::vector<std::string> notices;
        const auto pipeline = dependencies.makePipeline(
            false, false, {}, [&](const std::string& notice) { notices.push_back(notice); }, {});
        EXPECT_NE(pipeline.transcriber, nullptr);
        return notices;
    };

    EXPECT_TRUE(runStart().empty()) << "nothing chosen: the default model";
    QSettings().setValue("speech/model", "small");
    const auto notices = runStart();
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_NE(notices[0].find("「small」に切り替えられなかった"), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("「base」で続けます"), std::string::npos) << notices[0];
    QSettings().remove("speech/model");
    EXPECT_TRUE(runStart().empty());
}

// From the window to the sound: the real server's devices are listed by description after the default, a stored
// device that is gone stays visible, and the microphone chosen there is the one a live source records.
TEST(ApplicationWiring, Settings_TheMicrophoneChosenInTheWindowIsTheOneRecorded)
{
    test::TemporaryDirectory home;
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    test::qtApplication();
    PreferencesStore defaults{QString::fromStdString((home.path() / "settings.ini").string())};
    test::PulseAudioServer::Options options;
    options.sinkDescription = "スピーカー";
    options.pipeSources = {{"mic", 48000, 1, "内蔵マイク"}, {"headset", 48000, 1, "ヘッドセットのマイク"}};
    options.extraSinks = {{"hdmi", "HDMI 出力"}};
    test::PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    defaults.setValue(SettingsModel::systemAudioKey, "bluez_output.gone");
    SettingsModel model(&defaults, ApplicationWiring::settings(std::make_shared<SpeechModelInstaller>()));
    SettingsWindow window(&model);
    window.show();

    auto* microphones = window.findChild<QComboBox*>("microphoneDevice");
    auto* outputs = window.findChild<QComboBox*>("systemAudioDevice");
    ASSERT_TRUE(QTest::qWaitFor([&] { return microphones->count() == 3; }));
    EXPECT_EQ(microphones->itemText(0), "既定のデバイス");
    EXPECT_EQ(microphones->itemText(2), "ヘッドセットのマイク");
    EXPECT_EQ(microphones->currentIndex(), 0);
    ASSERT_EQ(outputs->count(), 4);
    EXPECT_EQ(outputs->itemText(2), "HDMI 出力");
    EXPECT_EQ(outputs->currentText(), "bluez_output.gone（見つかりません）") << "a gone device is not silently lost";
    microphones->setFocus();
    QTest::keyClick(microphones, Qt::Key_End);
    ASSERT_EQ(defaults.value(SettingsModel::microphoneKey).toString(), "headset");
    outputs->setFocus();
    QTest::keyClick(outputs, Qt::Key_Home);
    EXPECT_EQ(defaults.value(SettingsModel::systemAudioKey).toString(), "") << "empty means the default";

    // Shown again, the list is read anew and the stored choice is selected.
    window.hide();
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outputs->count() == 3; }));
    EXPECT_EQ(microphones->currentText(), "ヘッドセットのマイク");

    const CompositionRoot root(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>());
    const auto source = root.makeLiveAudioSource(
        true, false, {}, {},
        AudioDeviceChoice{defaults.value(SettingsModel::microphoneKey).toString().toStdString(), {}});
    test::FrameCollector collector(source->start());
    server.writeToSource("mic", test::sine(440, 48000, 24000, 0.05f));
    server.writeToSource("headset", test::sine(440, 48000, 24000, 0.5f));
    ASSERT_TRUE(
        collector.waitFor([](const auto& frames) { return test::FrameCollector::samplesAt(frames, 48000) >= 24000; }));
    EXPECT_NEAR(test::FrameCollector::rmsAt(collector.frames(), 48000), 0.5 / std::sqrt(2.0), 0.01)
        << "the loud headset, not the default microphone";
    source->stop();
}

} // namespace
} // namespace tc
