#include "TranscriptionUI/settings/SettingsWindow.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/settings/SettingsModel.h"

#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"
#include "support/QtTestApplication.h"
#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/TemporaryDirectory.h"

#include <QComboBox>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace tc {
namespace {

std::vector<float> tone(float amplitude)
{
    std::vector<float> samples(48000 / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
    return samples;
}

// From the window to the sound: the real server's devices are listed by description after the default, a stored
// device that is gone stays visible, and the microphone chosen there is the one a live source built from the stored
// choice records.
TEST(SettingsDevices, TheMicrophoneChosenInTheWindowIsTheOneRecorded)
{
    test::PulseAudioServer::Options options;
    options.sinkDescription = "スピーカー";
    options.pipeSources = {{"mic", 48000, 1, "内蔵マイク"}, {"headset", 48000, 1, "ヘッドセットのマイク"}};
    options.extraSinks = {{"hdmi", "HDMI 出力"}};
    test::PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    test::qtApplication();
    test::TemporaryDirectory dir;
    PreferencesStore defaults(QString::fromStdString((dir.path() / "settings.ini").string()));
    defaults.setValue(SettingsModel::systemAudioKey, "bluez_output.gone");
    SettingsModel model(&defaults, SettingsModel::defaultDependencies());
    SettingsWindow window(&model);
    window.show();

    auto* microphones = window.findChild<QComboBox*>("microphoneDevice");
    auto* outputs = window.findChild<QComboBox*>("systemAudioDevice");
    QTRY_COMPARE(microphones->count(), 3);
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
    QTRY_COMPARE(outputs->count(), 3);
    EXPECT_EQ(microphones->currentText(), "ヘッドセットのマイク");

    const CompositionRoot root(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>());
    const auto source = root.makeLiveAudioSource(
        true, false, {}, {},
        AudioDeviceChoice{defaults.value(SettingsModel::microphoneKey).toString().toStdString(), {}});
    test::FrameCollector collector(source->start());
    server.writeToSource("mic", tone(0.05f));
    server.writeToSource("headset", tone(0.5f));
    ASSERT_TRUE(
        collector.waitFor([](const auto& frames) { return test::FrameCollector::samplesAt(frames, 48000) >= 24000; }));
    EXPECT_NEAR(test::FrameCollector::rmsAt(collector.frames(), 48000), 0.5 / std::sqrt(2.0), 0.01)
        << "the loud headset, not the default microphone";
    source->stop();
}

} // namespace
} // namespace tc
