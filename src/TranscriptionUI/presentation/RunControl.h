#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/OutputEvent.h"
#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionInfrastructure/audio/AudioDeviceChoice.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace tc {

class MainThreadHop;
class NoticeLog;
class PermissionManager;
class SerialWorker;
class SourceAccess;

// Starts, pauses and restarts transcription runs, each on its own thread with its own generation, and keeps the
// levels of the running sources. A run's events reach the handler on the main thread; a run that ended or was
// replaced never shows itself as active. Main thread only.
class RunControl : public QObject {
    Q_OBJECT
public:
    // The audio source and transcriber of one run.
    struct LivePipeline {
        std::shared_ptr<AudioSource> audioSource;
        std::shared_ptr<Transcriber> transcriber;
    };
    // Called from any thread.
    using DegradedCallback = std::function<void(const std::string& notice)>;
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;
    // Builds a run's pipeline for the usable sources on the devices chosen when the run started; called on the
    // run's thread. May throw.
    using PipelineFactory = std::function<LivePipeline(
        bool microphone, bool systemAudio, const AudioDeviceChoice& devices, DegradedCallback, LevelCallback)>;
    using EventHandler = std::function<void(const OutputEvent&)>;
    using Done = std::function<void()>;

    static constexpr std::int64_t levelHistoryLength = 60;

    // onEvent gets the runs' events and notices; onRunEnded follows every run that ended by itself or was stopped.
    RunControl(std::shared_ptr<PermissionManager> permissions, PipelineFactory makePipeline,
               std::shared_ptr<MainThreadHop> hop, SourceAccess& sources, NoticeLog& notices, EventHandler onEvent,
               std::function<void()> onRunEnded);
    // Stops and joins every run.
    ~RunControl() override;

    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    std::int64_t runGeneration() const { return m_runGeneration; }
    const std::map<AudioSourceID, float>& levels() const { return m_levels; }
    const std::map<AudioSourceID, std::vector<float>>& levelHistory() const { return m_levelHistory; }
    const std::vector<AudioSourceID>& activeSources() const { return m_activeSources; }

    // Starts a run unless running, shut down or the sources cannot start; clears the notices.
    void start();
    // Stops the run and marks paused.
    void pause();
    // Clears the pause, then start().
    void resume();
    // Stops the current run and starts a new one unless paused meanwhile. async.
    void restart(Done done = {});
    // An opt-in changed: restarts a run, or starts one when idle and not paused; `done` once it has. async.
    void reconcileSources(Done done = {});
    void recordLevel(float level, AudioSourceID source);
    void clearLevels();
    // Stops every run and waits for their threads; later starts are refused. Safe to call more than once.
    void shutdown();

signals:
    void isRunningChanged();
    void isPausedChanged();
    void runGenerationChanged();
    void levelsChanged();
    void levelHistoryChanged();
    void activeSourcesChanged();
    // Every run stopped or replaced has ended (its events handled, its thread joined) and no restart is under
    // way; the current run, if any, goes on. What a stop or restart was going to change has changed by then.
    void settled();

private:
    struct Run;

    void runSession(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio,
                    const AudioDeviceChoice& devices, std::stop_token stop);
    void beginRun(const std::shared_ptr<Run>& run, bool microphone, bool systemAudio);
    void finishRun(std::int64_t generation);
    void stopCurrent();
    void joinRun(std::int64_t generation);
    void resetRunFields();
    void notifyIfSettled();

    std::shared_ptr<PermissionManager> m_permissions;
    PipelineFactory m_makePipeline;
    std::shared_ptr<MainThreadHop> m_hop;
    SourceAccess& m_sources;
    NoticeLog& m_notices;
    EventHandler m_onEvent;
    std::function<void()> m_onRunEnded;
    std::unique_ptr<SerialWorker> m_stopWorker;

    bool m_isRunning = false;
    bool m_isPaused = false;
    bool m_shutDown = false;
    int m_restartsUnderWay = 0;
    std::int64_t m_runGeneration = 0;
    std::map<AudioSourceID, float> m_levels;
    std::map<AudioSourceID, std::vector<float>> m_levelHistory;
    std::vector<AudioSourceID> m_activeSources;
    std::vector<std::shared_ptr<Run>> m_runs;
    std::shared_ptr<Run> m_currentRun;
};

} // namespace tc
