// Resuming live transcription (pause and resume, a source switched on or off): the time from asking for the
// new run to the first frame captured from the microphone, and to the recognizer being ready for it. The
// composition root's one speech engine is measured against the earlier wiring, a new engine per run, in the
// same process. Figures go to resume.json.

#include "BenchMeasures.h"
#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/SpeechRecognitionEngine.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include "support/PulseAudioServer.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// What one run saw first, filled from the capture and recognition threads.
class FirstEvents {
public:
    void frameCaptured() { note(m_frame); }
    void recognizerReady() { note(m_recognizer); }
    // Waits until both happened; false after the time-out.
    bool waitForBoth(std::chrono::seconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_frame && m_recognizer; });
    }
    double frameMs(Clock::time_point since) const { return milliseconds(*m_frame, since); }
    double recognizerMs(Clock::time_point since) const { return milliseconds(*m_recognizer, since); }

private:
    void note(std::optional<Clock::time_point>& when)
    {
        std::lock_guard lock(m_mutex);
        if (!when) when = Clock::now();
        m_changed.notify_all();
    }
    static double milliseconds(Clock::time_point at, Clock::time_point since)
    {
        return std::chrono::duration<double, std::milli>(at - since).count();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Clock::time_point> m_frame;
    std::optional<Clock::time_point> m_recognizer;
};

// Passes everything to the real engine and notes when a recognizer (model loaded) is handed out.
class TimedEngine final : public tc::SpeechRecognitionEngine {
public:
    explicit TimedEngine(std::shared_ptr<tc::SpeechRecognitionEngine> inner) : m_inner(std::move(inner)) {}

    void observe(std::shared_ptr<FirstEvents> events)
    {
        std::lock_guard lock(m_mutex);
        m_events = std::move(events);
    }
    std::vector<std::string> supportedLocales() override { return m_inner->supportedLocales(); }
    std::unique_ptr<tc::AssetInstallationRequest> assetInstallationRequest(const tc::RecognizerModule& module) override
    {
        return m_inner->assetInstallationRequest(module);
    }
    std::shared_ptr<tc::StreamingRecognizer> makeRecognizer(const tc::RecognizerModule& module) override
    {
        auto recognizer = m_inner->makeRecognizer(module);
        std::lock_guard lock(m_mutex);
        if (m_events) m_events->recognizerReady();
        return recognizer;
    }

private:
    std::shared_ptr<tc::SpeechRecognitionEngine> m_inner;
    std::mutex m_mutex;
    std::shared_ptr<FirstEvents> m_events;
};

class NullSink final : public tc::OutputSink {
public:
    void emit(const tc::OutputEvent&) override {}
};

struct Resume {
    double frameMs = 0;
    double recognizerMs = 0;
};

// One run as the presentation model starts it: a live source and a transcriber from the root, a session
// runner over them; stopped once both firsts were seen and a little audio went through.
std::optional<Resume> resumeOnce(const tc::CompositionRoot& root, TimedEngine& engine)
{
    auto events = std::make_shared<FirstEvents>();
    engine.observe(events);
    const auto asked = Clock::now();
    auto source =
        root.makeLiveAudioSource(true, false, {}, [events](tc::AudioSourceID, float) { events->frameCaptured(); });
    tc::RunTranscriptionSession session(source, root.makeTranscriber(), std::make_shared<NullSink>());
    std::jthread running([&](std::stop_token stop) {
        try {
            session.run(stop);
        } catch (const std::exception& error) {
            std::cerr << "run failed: " << error.what() << "\n";
        }
    });
    const bool seen = events->waitForBoth(60s);
    std::this_thread::sleep_for(200ms);
    session.stop();
    running.request_stop();
    running.join();
    engine.observe(nullptr);
    if (!seen) return std::nullopt;
    return Resume{events->frameMs(asked), events->recognizerMs(asked)};
}

nlohmann::json summary(const std::vector<Resume>& resumes)
{
    std::vector<double> frames;
    std::vector<double> recognizers;
    for (const auto& resume : resumes) {
        frames.push_back(resume.frameMs);
        recognizers.push_back(resume.recognizerMs);
    }
    return {
        {"runs", resumes.size()},
        {"first_frame_ms", {{"p50", tc::bench::percentile(frames, 0.5)}, {"max", tc::bench::percentile(frames, 1)}}},
        {"recognizer_ready_ms",
         {{"p50", tc::bench::percentile(recognizers, 0.5)}, {"max", tc::bench::percentile(recognizers, 1)}}}};
}

} // namespace

int main()
{
    constexpr int kResumes = 8;
    tc::test::PulseAudioServer server;
    if (!server.isRunning()) {
        std::cerr << "no sound server: " << server.startError() << "\n";
        return 1;
    }
    // Silence into the microphone at the pace of a sound card, for the whole benchmark.
    std::jthread feeder([&server](std::stop_token stop) {
        const std::vector<float> block(1024, 0.0f);
        for (auto next = Clock::now(); !stop.stop_requested();
             next += std::chrono::microseconds(1024 * 1000000 / 48000)) {
            std::this_thread::sleep_until(next);
            server.writeToSource("mic", block);
        }
    });
    const double loadBefore = tc::bench::loadAverage();

    // The wiring now: one root, one engine, its model loaded by the first run and kept.
    auto shared = std::make_shared<TimedEngine>(std::make_shared<tc::WhisperSpeechRecognitionEngine>());
    const tc::CompositionRoot root(tc::EngineConfig{}, shared);
    const auto firstStart = resumeOnce(root, *shared);
    if (!firstStart) {
        std::cerr << "the first run never captured a frame or never got its recognizer (is the model installed?)\n";
        return 1;
    }
    std::vector<Resume> sharedResumes;
    for (int i = 0; i < kResumes; ++i) {
        if (auto resume = resumeOnce(root, *shared)) sharedResumes.push_back(*resume);
    }

    // The wiring before: every run built its own engine and loaded the model again.
    std::vector<Resume> freshResumes;
    for (int i = 0; i < kResumes; ++i) {
        auto fresh = std::make_shared<TimedEngine>(std::make_shared<tc::WhisperSpeechRecognitionEngine>());
        const tc::CompositionRoot perRun(tc::EngineConfig{}, fresh);
        if (auto resume = resumeOnce(perRun, *fresh)) freshResumes.push_back(*resume);
    }
    feeder.request_stop();

    auto sharedSummary = summary(sharedResumes);
    auto freshSummary = summary(freshResumes);
    const double sharedReady = sharedSummary["recognizer_ready_ms"]["p50"];
    const double freshReady = freshSummary["recognizer_ready_ms"]["p50"];
    nlohmann::json results = {
        {"benchmark", "resume: new run from the composition root to first captured frame and recognizer ready"},
        {"server", "private pulseaudio, pipe source 48 kHz mono fed silence"},
        {"model", tc::SpeechModelManager::defaultModelName()},
        {"load_average_before", loadBefore},
        {"first_start", {{"first_frame_ms", firstStart->frameMs}, {"recognizer_ready_ms", firstStart->recognizerMs}}},
        {"resume_shared_engine", sharedSummary},
        {"baseline_resume_new_engine_per_run", freshSummary},
        {"ratio_recognizer_ready_new_engine_to_shared", freshReady / sharedReady},
        {"target_first_frame_ms", 100.0},
    };
    const char* overridden = std::getenv("TC_BENCH_RESULTS_DIR");
    const std::filesystem::path dir = overridden && *overridden ? overridden : TC_BENCH_RESULTS_DIR;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "resume.json") << results.dump(2) << "\n";
    std::cout << results.dump(2) << "\n";
    return 0;
}
