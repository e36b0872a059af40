#pragma once

#include "TranscriptionInfrastructure/speech/SpeechRecognitionEngine.h"
#include "support/Locked.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tc::test {

// A recognizer whose results the test scripts. It records every buffer it is fed and hands out its results
// when the test pushes them, plus the scripted closing results when it is finalized. Thread-safe.
class ScriptedRecognizer final : public StreamingRecognizer {
public:
    using Timeout = std::chrono::milliseconds;

    std::optional<AnalyzerAudioFormat> format = AnalyzerAudioFormat{};
    std::exception_ptr startError;
    // Delivered when finalized, before the results end.
    std::vector<RecognitionResult> closingResults;

    ~ScriptedRecognizer() override;

    std::optional<AnalyzerAudioFormat> bestAvailableAudioFormat() override { return format; }
    void start(Stream<AnalyzerBuffer> input) override;
    void finalizeAndFinishThroughEndOfInput() override;
    Stream<RecognitionResult> results() override { return m_results; }
    void cancel() override;

    // Hands a result to the transcriber now.
    void push(RecognitionResult result) { m_results->yield(std::move(result)); }
    void failResults(std::exception_ptr error) { m_results->fail(std::move(error)); }
    // Bounded waits: until the buffers' total frames reach the count, or until the recognizer is finalized, started
    // or cancelled; false on time-out.
    bool waitForFrames(std::size_t frames, Timeout timeout = std::chrono::seconds(5))
    {
        return m_lock.waitFor(timeout, [&] { return m_frames >= frames; });
    }
    bool waitForFinalize(Timeout timeout = std::chrono::seconds(5)) { return waitFor(m_finalized, timeout); }
    bool waitForStart(Timeout timeout = std::chrono::seconds(5)) { return waitFor(m_started, timeout); }
    bool waitForCancel(Timeout timeout = std::chrono::seconds(5)) { return waitFor(m_cancelled, timeout); }
    std::vector<AnalyzerBuffer> buffers() const { return m_lock.read(m_buffers); }
    bool isFinalized() const { return m_lock.read(m_finalized); }

private:
    bool waitFor(const bool& flag, Timeout timeout)
    {
        return m_lock.waitFor(timeout, [&] { return flag; });
    }

    Stream<RecognitionResult> m_results = Channel<RecognitionResult>::make();
    Locked m_lock;
    std::vector<AnalyzerBuffer> m_buffers;
    std::size_t m_frames = 0;
    bool m_started = false;
    bool m_finalized = false;
    bool m_cancelled = false;
    Stream<AnalyzerBuffer> m_input;
    std::jthread m_pump;
};

// An engine whose answers the test sets; it hands out one ScriptedRecognizer per run. Thread-safe enough for
// tests: set the fields before transcribing.
class ScriptedSpeechRecognitionEngine final : public SpeechRecognitionEngine {
public:
    std::vector<std::string> locales{"ja-JP"};
    // Thrown by the asset step when set.
    std::exception_ptr assetError;
    std::function<std::shared_ptr<ScriptedRecognizer>()> makeScripted = [] {
        return std::make_shared<ScriptedRecognizer>();
    };

    std::vector<std::string> supportedLocales() override { return locales; }
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const RecognizerModule&) override
    {
        if (assetError) std::rethrow_exception(assetError);
        return nullptr;
    }
    std::shared_ptr<StreamingRecognizer> makeRecognizer(const RecognizerModule& module) override;

    // The recognizers made so far and the modules asked for.
    std::vector<std::shared_ptr<ScriptedRecognizer>> recognizers() const { return m_lock.read(m_recognizers); }
    std::vector<RecognizerModule> modules() const { return m_lock.read(m_modules); }
    // Waits (bounded) until a recognizer has been made and started.
    std::shared_ptr<ScriptedRecognizer> waitForRecognizer(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    Locked m_lock;
    std::vector<std::shared_ptr<ScriptedRecognizer>> m_recognizers;
    std::vector<RecognizerModule> m_modules;
};

} // namespace tc::test
