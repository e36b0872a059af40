#pragma once

#include "support/FakeAudioSource.h"
#include "support/FakeCalendarProvider.h"
#include "support/FakeConversationResponder.h"
#include "support/FakePermissionManager.h"
#include "support/HistoryJsonReference.h"
#include "support/Locked.h"
#include "support/QtTestApplication.h"
#include "support/ScriptedTranscriber.h"
#include "support/TemporaryDirectory.h"

#include "TranscriptionInfrastructure/history/IndexedHistorySearchEngine.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

namespace tc::test {

// The presentation model wired to fakes, a real history file and settings in a temporary folder.
class ViewModelHarness {
public:
    // One run's pipeline as the model asked for it.
    struct Pipeline {
        bool microphone = false;
        bool systemAudio = false;
        AudioDeviceChoice devices;
        std::shared_ptr<FakeAudioSource> source;
        std::shared_ptr<ScriptedTranscriber> transcriber;
        TranscriptionViewModel::DegradedCallback onDegraded;
        TranscriptionViewModel::LevelCallback onLevel;
    };

    ViewModelHarness()
        : settings(std::make_unique<QSettings>(dir.filePath("settings.ini"), QSettings::IniFormat)),
          permissions(std::make_shared<FakePermissionManager>()), calendar(std::make_shared<FakeCalendarProvider>()),
          responder(std::make_shared<FakeConversationResponder>()),
          store(std::make_shared<TranscriptHistoryStore>(historyPath()))
    {}

    std::filesystem::path historyPath() const { return dir.filePath("history.json").toStdString(); }

    TranscriptionViewModel::Dependencies dependencies()
    {
        TranscriptionViewModel::Dependencies deps;
        deps.permissions = permissions;
        deps.calendar = calendar;
        deps.responder = responder;
        deps.store = store;
        deps.makeSearchEngine = IndexedHistorySearchEngine::factory();
        deps.settings = settings.get();
        deps.makePipeline = [this](bool microphone, bool systemAudio, const AudioDeviceChoice& devices,
                                   TranscriptionViewModel::DegradedCallback onDegraded,
                                   TranscriptionViewModel::LevelCallback onLevel) {
            return m_lock.change([&] {
                if (m_pipelineFailure) throw std::runtime_error(*m_pipelineFailure);
                m_pipelines.push_back({microphone, systemAudio, devices, std::make_shared<FakeAudioSource>(),
                                       std::make_shared<ScriptedTranscriber>(), onDegraded, onLevel});
                return TranscriptionViewModel::LivePipeline{m_pipelines.back().source, m_pipelines.back().transcriber};
            });
        };
        if (fixedClock) deps.now = [this] { return clock.load(); };
        deps.timings = timings;
        return deps;
    }

    auto makeModel() { return std::make_unique<TranscriptionViewModel>(dependencies()); }
    std::vector<Pipeline> pipelines() const { return m_lock.read(m_pipelines); }
    std::size_t pipelineCount() const { return pipelines().size(); }
    void failPipelines(std::string message) { m_lock.set(m_pipelineFailure, std::move(message)); }

    // Waits for a recognition of the n-th pipeline (from 0) to begin, so segments can be emitted.
    bool waitForRecognition(std::size_t n)
    {
        if (!QTest::qWaitFor([&] { return pipelineCount() > n; }, 30000)) return false;
        return pipelines()[n].transcriber->waitForRecognitions(1, std::chrono::milliseconds(30000));
    }

    // Runs an async operation of the model and waits for its completion.
    template <class Operation>
    static bool await(Operation operation, int timeoutMs = 30000)
    {
        bool done = false;
        operation([&done] { done = true; });
        return QTest::qWaitFor([&] { return done; }, timeoutMs);
    }

    // The history file parsed; null when it is missing, discarded when it is not JSON.
    nlohmann::json historyJson() const
    {
        if (!std::filesystem::exists(historyPath())) return nullptr;
        return nlohmann::json::parse(readText(historyPath()), nullptr, false);
    }

    void writeHistory(const std::vector<TranscriptSession>& sessions, int indent = 2)
    {
        std::ofstream(historyPath()) << nlohmann::json{{"version", 2}, {"sessions", sessions}}.dump(indent);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
    std::shared_ptr<FakePermissionManager> permissions;
    std::shared_ptr<FakeCalendarProvider> calendar;
    std::shared_ptr<FakeConversationResponder> responder;
    std::shared_ptr<TranscriptHistoryStore> store;
    bool fixedClock = false;
    std::atomic<Date> clock{0};
    TranscriptionViewModel::Timings timings;

private:
    Locked m_lock;
    std::vector<Pipeline> m_pipelines;
    std::optional<std::string> m_pipelineFailure;
};

} // namespace tc::test
