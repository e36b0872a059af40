#include "support/PulseAudioServer.h"
#include "support/ShellCommand.h"
#include "support/ViewModelHarness.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/calendar/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"
#include "TranscriptionUI/settings/ConsentSection.h"

#include <QDateTime>
#include <QPushButton>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tc::test {
namespace {

// The names of the sources the private sound server is recording from, as its own listing says.
std::set<std::string> recordedSources()
{
    std::map<std::string, std::string> names;
    std::istringstream sources(shellOutput("pactl list short sources 2>/dev/null"));
    for (std::string line; std::getline(sources, line);) {
        std::istringstream fields(line);
        std::string index, name;
        if (fields >> index >> name) names[index] = name;
    }
    std::set<std::string> recorded;
    std::istringstream outputs(shellOutput("pactl list short source-outputs 2>/dev/null"));
    for (std::string line; std::getline(outputs, line);) {
        std::istringstream fields(line);
        std::string index, source;
        if (fields >> index >> source) recorded.insert(names.count(source) ? names[source] : source);
    }
    return recorded;
}

bool hasNoticeWith(TranscriptionViewModel& model, const std::string& part)
{
    for (const auto& notice : model.noticeLog().notices())
        if (notice.find(part) != std::string::npos) return true;
    return false;
}

QPushButton* button(QWidget& section, const char* name)
{
    return section.findChild<QPushButton*>(QString::fromLatin1(name));
}

TEST(ConsentWithdrawal, StopsEachSourcesCaptureInTheSoundServerAtOnce)
{
    qtApplication();
    PulseAudioServer::Options options;
    options.pipeSources = {PulseAudioServer::PipeSource{"mic", 48000, 1}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();

    ViewModelHarness h;
    auto consent = std::make_shared<ConsentStore>(h.dir.filePath("consent.ini").toStdString());
    for (auto topic : {ConsentTopic::microphone, ConsentTopic::screenRecording, ConsentTopic::speechRecognition})
        consent->record(topic, Consent::granted);
    h.settings->setValue("optInMic", true);
    h.settings->setValue("optInSystemAudio", true);
    h.settings->setValue("systemAudioRequested", true);
    auto deps = h.dependencies();
    deps.permissions = std::make_shared<PermissionManager>(consent, [] { return PulseAudioCapture::probeServer(); });
    deps.makePipeline = [](bool microphone, bool systemAudio, const AudioDeviceChoice& devices,
                           TranscriptionViewModel::DegradedCallback onDegraded,
                           TranscriptionViewModel::LevelCallback onLevel) {
        const CompositionRoot root;
        return TranscriptionViewModel::LivePipeline{
            root.makeLiveAudioSource(microphone, systemAudio, std::move(onDegraded), std::move(onLevel), devices),
            std::make_shared<ScriptedTranscriber>()};
    };
    TranscriptionViewModel model(deps);
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model.bootstrap(done); }));
    ASSERT_TRUE(model.runControl().isRunning());
    const std::set<std::string> both{"mic", "out.monitor"};
    ASSERT_TRUE(QTest::qWaitFor([&] { return recordedSources() == both; }, 20000))
        << "both sources should be recorded before anything is withdrawn";

    // The settings page's button, as the user presses it.
    ConsentSection section(&model.sourceAccess(), &model.calendarBrowsing());
    ASSERT_TRUE(button(section, "microphoneWithdraw")->isVisibleTo(&section));
    button(section, "microphoneWithdraw")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordedSources() == std::set<std::string>{"out.monitor"}; }, 20000))
        << "the microphone is still recorded after its consent was withdrawn";
    EXPECT_TRUE(model.runControl().isRunning()) << "system audio goes on";
    EXPECT_EQ(model.sourceAccess().accessState(AudioSourceID::microphone), SourceAccessState::undetermined());
    EXPECT_FALSE(model.sourceAccess().optInMic());
    EXPECT_EQ(consent->consent(ConsentTopic::microphone), Consent::undetermined);
    EXPECT_TRUE(hasNoticeWith(model, "マイクの許可を取り消しました"));
    EXPECT_TRUE(button(section, "microphoneAllow")->isVisibleTo(&section));
    EXPECT_FALSE(button(section, "microphoneWithdraw")->isVisibleTo(&section));

    // Without speech recognition nothing may be captured at all.
    button(section, "speechRecognitionWithdraw")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.runControl().isRunning() && recordedSources().empty(); }, 20000))
        << "capture went on after speech recognition was withdrawn";
    EXPECT_FALSE(model.sourceAccess().canStart());
    EXPECT_TRUE(hasNoticeWith(model, "音声認識の許可を取り消しました"));

    // Allowing recognition again resumes the source that is still allowed.
    button(section, "speechRecognitionAllow")->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return model.runControl().isRunning() && recordedSources() == std::set<std::string>{"out.monitor"}; },
        20000))
        << "allowing speech recognition again did not resume system audio";

    button(section, "systemAudioWithdraw")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.runControl().isRunning() && recordedSources().empty(); }, 20000));
    EXPECT_EQ(model.sourceAccess().accessState(AudioSourceID::systemAudio), SourceAccessState::undetermined());
    EXPECT_FALSE(model.sourceAccess().optInSystemAudio()) << "allowing it again turns it back on, as the first time";
    EXPECT_TRUE(hasNoticeWith(model, "システム音声の許可を取り消しました"));
    model.runControl().pause();
}

TEST(ConsentWithdrawal, EmptiesTheCalendarSidebarAtOnceAndAsksAgain)
{
    qtApplication();
    ViewModelHarness h;
    const std::filesystem::path calendars = h.dir.filePath("calendars").toStdString();
    std::filesystem::create_directories(calendars);
    const QDateTime noon(QDate::currentDate(), QTime(12, 0), QTimeZone::systemTimeZone());
    const auto stamp = noon.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toStdString();
    std::ofstream(calendars / "work.ics") << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
                                             "BEGIN:VEVENT\r\nUID:withdraw-1\r\nDTSTAMP:"
                                          << stamp << "\r\nDTSTART:" << stamp
                                          << "\r\nDURATION:PT1H\r\nSUMMARY:定例会議\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    auto consent = std::make_shared<ConsentStore>(h.dir.filePath("consent.ini").toStdString());
    consent->record(ConsentTopic::calendar, Consent::granted);
    auto deps = h.dependencies();
    deps.calendar = std::make_shared<EventKitCalendarProvider>(
        consent, std::make_shared<ICalendarEventStore>(ICalendarEventStore::Locations{calendars, std::nullopt}));
    TranscriptionViewModel model(deps);
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model.bootstrap(done); }));
    ASSERT_EQ(model.calendarBrowsing().dayEvents().size(), 1u);
    model.calendarBrowsing().setBrowsingEvent(model.calendarBrowsing().dayEvents().front());

    ConsentSection section(&model.sourceAccess(), &model.calendarBrowsing());
    button(section, "calendarWithdraw")->click();
    // Emptied before the worker has even answered.
    EXPECT_TRUE(model.calendarBrowsing().dayEvents().empty());
    EXPECT_FALSE(model.calendarBrowsing().browsingEvent().has_value());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.calendarBrowsing().status() == CalendarAuthorizationStatus::undetermined; }, 10000));
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model.calendarBrowsing().loadDayEvents(done); }));
    EXPECT_TRUE(model.calendarBrowsing().dayEvents().empty()) << "events read after the withdrawal";
    EXPECT_EQ(consent->consent(ConsentTopic::calendar), Consent::undetermined);
    EXPECT_TRUE(button(section, "calendarAllow")->isVisibleTo(&section));

    button(section, "calendarAllow")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.calendarBrowsing().dayEvents().size() == 1u; }, 10000));
    model.runControl().pause();
}

} // namespace
} // namespace tc::test
