#pragma once

#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionInfrastructure/speech/SpeechRecognitionEngine.h"

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace tc {

// The transcriber over a speech recognition engine (whisper.cpp in the app). Each transcribe() call checks the
// locale and the model (installing what the engine asks for; the engine's notices become notice segments), builds
// its own recognizer, converts and feeds the frames on one thread and maps the results to segments on another. The
// locale and engine never change; the list of runs is guarded by a mutex.
// Destroying the transcriber stops its runs, ends their segment streams and waits for their threads.
class SpeechAnalyzerTranscriber final : public Transcriber {
public:
    // Over whisper.cpp with the default installed model.
    explicit SpeechAnalyzerTranscriber(std::string locale);
    // Over whisper.cpp with the named installed model ("base", "small", ...).
    SpeechAnalyzerTranscriber(std::string locale, std::string modelName);
    // Over the given engine.
    SpeechAnalyzerTranscriber(std::string locale, std::shared_ptr<SpeechRecognitionEngine> engine);
    ~SpeechAnalyzerTranscriber() override;

    // Returns at once; the segment stream fails with TranscriberError or the engine's error, and finishes after
    // the last result once the frames end. Cancelling the stream stops the recognition.
    SegmentStream transcribe(AudioFrameStream frames) override;

    const std::string& locale() const { return m_locale; }
    // "ja_JP" -> "ja-JP"
    static std::string bcp47Identifier(const std::string& locale);
    // "ja-JP" -> "ja_JP"
    static std::string plainIdentifier(const std::string& locale);

private:
    struct Run {
        std::jthread worker;
        std::jthread feeder;
        std::atomic<bool> workerDone{false};
        std::atomic<bool> feederDone{true};
        // A failure of the frame stream, handed from the feeder to the worker.
        std::mutex mutex;
        std::exception_ptr frameError;
    };

    static void transcription(std::stop_token stop, Run& run, std::string locale,
                              std::shared_ptr<SpeechRecognitionEngine> engine, AudioFrameStream frames,
                              SegmentStream segments);
    static void ensureAssets(std::stop_token stop, SpeechRecognitionEngine& engine, const RecognizerModule& module,
                             const SegmentStream& segments);
    static void yieldNotice(const SegmentStream& segments, std::string text);
    static void feed(std::stop_token stop, Run& run, AnalyzerAudioFormat format, AudioFrameStream frames,
                     Stream<AnalyzerBuffer> input, std::shared_ptr<StreamingRecognizer> recognizer);
    void pruneFinishedRuns();

    const std::string m_locale;
    const std::shared_ptr<SpeechRecognitionEngine> m_engine;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Run>> m_runs;
};

} // namespace tc
