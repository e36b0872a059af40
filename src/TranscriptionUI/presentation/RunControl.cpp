#include "TranscriptionUI/presentation/RunControl.h"

#include "TranscriptionApplication/PortFailure.h"
#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"
#include "TranscriptionUI/presentation/NoticeLog.h"
#include "TranscriptionUI/presentation/ObservedValue.h"
#include "TranscriptionUI/presentation/SourceAccess.h"
#include "TranscriptionUI/presentation/ViewModelSink.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>

namespace tc {

namespace {

using Status = PermissionManager::Status;

const std::string kSpeechNotGrantedNotice =
    "音声認識が許可されていないため、文字起こしを開始できません。マイクまたはシステム音声を許可し直してください。";
const std::string kNoSourceNotice =
    "利用可能な音声ソースがありません。マイクまたはシステム音声を許可・有効化してください。";

} // namespace

// One run: its generation, its thread and the runner it created (guarded, as the stop task reads it).
struct RunControl::Run {
    std::int64_t generation = 0;
    std::mutex mutex;
    std::shared_ptr<RunTranscriptionSession> session;
    std::jthread thread;

    std::shared_ptr<RunTranscriptionSession> currentSession()
    {
        std::lock_guard lock(mutex);
        return session;
    }
};

RunControl::RunControl(std::shared_ptr<PermissionManager> permissions, PipelineFactory makePipeline,
                       std::shared_ptr<MainThreadHop> hop, SourceAccess& sources, NoticeLog& notices,
                       EventHandler onEvent, std::function<void()> onRunEnded)
    : m_permissions(std::move(permissions)), m_makePipeline(std::move(makePipeline)), m_hop(std::move(hop)),
      m_sources(sources), m_notices(notices), m_onEvent(std::move(onEvent)), m_onRunEnded(std::move(onRunEnded)),
      m_stopWorker(std::make_unique<SerialWorker>())
{}

RunControl::~RunControl()
{
    shutdown();
    m_stopWorker.reset();
}

void RunControl::start()
{
    if (m_shutDown || m_isRunning || !m_sources.canStart()) return;
    assignObserved(this, m_isRunning, true, &RunControl::isRunningChanged);
    ++m_runGeneration;
    Q_EMIT runGenerationChanged();
    m_notices.clear();
    assignObserved(this, m_levels, std::map<AudioSourceID, float>{}, &RunControl::levelsChanged);

    auto run = std::make_shared<Run>();
    run->generation = m_runGeneration;
    const bool microphone = m_sources.optInMic();
    const bool systemAudio = m_sources.optInSystemAudio();
    // Read at every start, so a device chosen in the settings is used from the next run on.
    const auto devices = m_sources.chosenDevices();
    m_currentRun = run;
    m_runs.push_back(run);
    run->thread = std::jthread(
        [this, run, microphone, systemAudio, devices, hop = m_hop, permissions = m_permissions](std::stop_token stop) {
            const auto finishWith = [&](std::optional<std::string> notice) {
                hop->post([this, generation = run->generation, notice = std::move(notice)] {
                    if (notice) m_notices.append(*notice);
                    finishRun(generation);
                });
            };
            if (permissions->speechRecognitionStatus() != Status::granted) return finishWith(kSpeechNotGrantedNotice);
            const bool micUsable = microphone && permissions->microphoneStatus() == Status::granted;
            const bool systemUsable = systemAudio && permissions->screenRecordingGranted();
            if (!micUsable && !systemUsable) return finishWith(kNoSourceNotice);
            hop->post([this, run, micUsable, systemUsable] { beginRun(run, micUsable, systemUsable); });
            runSession(run, micUsable, systemUsable, devices, stop);
            finishWith(std::nullopt);
        });
}

void RunControl::beginRun(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio)
{
    // A run paused or replaced while it checked its permissions must not show itself as active.
    if (run->generation != m_runGeneration || !m_isRunning || run->thread.get_stop_token().stop_requested()) return;
    std::vector<AudioSourceID> sources;
    if (microphone) sources.push_back(AudioSourceID::microphone);
    if (systemAudio) sources.push_back(AudioSourceID::systemAudio);
    std::map<AudioSourceID, std::vector<float>> history;
    for (auto source : sources)
        history[source] = std::vector<float>(levelHistoryLength, 0.0f);
    assignObserved(this, m_activeSources, std::move(sources), &RunControl::activeSourcesChanged);
    assignObserved(this, m_levelHistory, std::move(history), &RunControl::levelHistoryChanged);
}

// On the run's own thread.
void RunControl::runSession(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio,
                            const AudioDeviceChoice& devices, std::stop_token stop)
{
    const auto generation = run->generation;
    auto onDegraded = [this, hop = m_hop](const std::string& message) {
        hop->post([this, message] { m_onEvent(OutputEvent::notice(message)); });
    };
    auto onLevel = [this, hop = m_hop, generation](AudioSourceID source, float level) {
        hop->post([this, generation, source, level] {
            // Reports still in flight from a stopped run would otherwise draw a waveform while paused.
            if (generation == m_runGeneration && m_isRunning) recordLevel(level, source);
        });
    };
    // Building a pipeline may load a model; a run stopped already has no use for it.
    if (stop.stop_requested()) return;
    LivePipeline pipeline;
    try {
        pipeline = m_makePipeline(microphone, systemAudio, devices, std::move(onDegraded), std::move(onLevel));
    } catch (const std::exception& error) {
        m_hop->post([this, message = PortFailure::shownText(error)] { m_onEvent(OutputEvent::failure(message)); });
        return;
    }
    if (!pipeline.audioSource || !pipeline.transcriber) return;
    auto sink = std::make_shared<ViewModelSink>([this](const OutputEvent& event) { m_onEvent(event); }, m_hop, stop);
    auto session = std::make_shared<RunTranscriptionSession>(pipeline.audioSource, pipeline.transcriber, sink);
    {
        std::lock_guard lock(run->mutex);
        run->session = session;
    }
    try {
        session->run(stop);
    } catch (...) {
        // The runner has already reported the failure through the sink.
    }
}

void RunControl::finishRun(std::int64_t generation)
{
    if (generation == m_runGeneration) {
        assignObserved(this, m_isRunning, false, &RunControl::isRunningChanged);
        resetRunFields();
    }
    joinRun(generation);
    m_onRunEnded();
    notifyIfSettled();
}

void RunControl::notifyIfSettled()
{
    if (m_restartsUnderWay > 0) return;
    const bool onlyTheLiveRun = std::ranges::all_of(
        m_runs, [this](const std::shared_ptr<Run>& run) { return run == m_currentRun && m_isRunning; });
    if (onlyTheLiveRun) Q_EMIT settled();
}

void RunControl::resetRunFields()
{
    assignObserved(this, m_activeSources, std::vector<AudioSourceID>{}, &RunControl::activeSourcesChanged);
    clearLevels();
}

void RunControl::clearLevels()
{
    assignObserved(this, m_levels, std::map<AudioSourceID, float>{}, &RunControl::levelsChanged);
    assignObserved(this, m_levelHistory, std::map<AudioSourceID, std::vector<float>>{},
                   &RunControl::levelHistoryChanged);
}

// The run's thread ends right after it posts its finish, so this join is short.
void RunControl::joinRun(std::int64_t generation)
{
    std::erase_if(m_runs, [generation](const std::shared_ptr<Run>& run) {
        if (run->generation != generation) return false;
        if (run->thread.joinable()) run->thread.join();
        return true;
    });
}

void RunControl::pause()
{
    assignObserved(this, m_isPaused, true, &RunControl::isPausedChanged);
    assignObserved(this, m_isRunning, false, &RunControl::isRunningChanged);
    resetRunFields();
    stopCurrent();
}

void RunControl::resume()
{
    assignObserved(this, m_isPaused, false, &RunControl::isPausedChanged);
    start();
}

void RunControl::stopCurrent()
{
    auto run = m_currentRun;
    if (!run) return;
    run->thread.request_stop();
    m_stopWorker->post([run](std::stop_token) {
        if (auto session = run->currentSession()) session->stop();
    });
}

void RunControl::restart(Done done)
{
    auto run = m_currentRun;
    if (run) run->thread.request_stop();
    ++m_restartsUnderWay;
    runOffMain<bool>(
        *m_stopWorker, m_hop,
        [run](std::stop_token) {
            if (run) {
                if (auto session = run->currentSession()) session->stop();
            }
            return true;
        },
        [this, run, done = std::move(done)](bool) {
            // Two quick restarts would otherwise leave the run started by the first one running unseen, and a
            // pause pressed meanwhile must not be undone by a source change.
            if (m_currentRun != run) stopCurrent();
            assignObserved(this, m_isRunning, false, &RunControl::isRunningChanged);
            if (!m_isPaused) start();
            --m_restartsUnderWay;
            if (done) done();
            notifyIfSettled();
        });
}

void RunControl::reconcileSources(Done done)
{
    if (m_isRunning) {
        restart(std::move(done));
        return;
    }
    if (!m_isPaused && m_sources.canStart()) start();
    if (done) done();
}

void RunControl::recordLevel(float level, AudioSourceID source)
{
    auto levels = m_levels;
    levels[source] = level;
    assignObserved(this, m_levels, std::move(levels), &RunControl::levelsChanged);
    auto& history = m_levelHistory[source];
    history.push_back(level);
    if (history.size() > static_cast<std::size_t>(levelHistoryLength))
        history.erase(history.begin(), history.end() - levelHistoryLength);
    Q_EMIT levelHistoryChanged();
}

void RunControl::shutdown()
{
    if (m_shutDown) return;
    m_shutDown = true;
    for (auto& run : m_runs)
        run->thread.request_stop();
    for (auto& run : m_runs) {
        if (auto session = run->currentSession()) session->stop();
    }
    for (auto& run : m_runs) {
        if (run->thread.joinable()) run->thread.join();
    }
    m_runs.clear();
    assignObserved(this, m_isRunning, false, &RunControl::isRunningChanged);
    resetRunFields();
}

} // namespace tc
