#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"

#include "TranscriptionInfrastructure/speech/AnalyzerInputConverter.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"

#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

double finiteOrZero(double seconds)
{
    return std::isfinite(seconds) ? seconds : 0.0;
}

} // namespace

SpeechAnalyzerTranscriber::SpeechAnalyzerTranscriber(std::string locale)
    : SpeechAnalyzerTranscriber(std::move(locale), SpeechModelManager::defaultModelName())
{}

SpeechAnalyzerTranscriber::SpeechAnalyzerTranscriber(std::string locale, std::string modelName)
    : SpeechAnalyzerTranscriber(std::move(locale),
                                std::make_shared<WhisperSpeechRecognitionEngine>(std::move(modelName)))
{}

SpeechAnalyzerTranscriber::SpeechAnalyzerTranscriber(std::string locale,
                                                     std::shared_ptr<SpeechRecognitionEngine> engine)
    : m_locale(std::move(locale)), m_engine(std::move(engine))
{}

SpeechAnalyzerTranscriber::~SpeechAnalyzerTranscriber()
{
    std::lock_guard lock(m_mutex);
    for (auto& run : m_runs) {
        run->worker.request_stop();
        if (run->worker.joinable()) run->worker.join();
        // Joined after the worker, which is the one that starts it.
        run->feeder.request_stop();
        if (run->feeder.joinable()) run->feeder.join();
    }
}

std::string SpeechAnalyzerTranscriber::bcp47Identifier(const std::string& locale)
{
    std::string identifier = locale;
    std::replace(identifier.begin(), identifier.end(), '_', '-');
    return identifier;
}

std::string SpeechAnalyzerTranscriber::plainIdentifier(const std::string& locale)
{
    std::string identifier = locale;
    std::replace(identifier.begin(), identifier.end(), '-', '_');
    return identifier;
}

void SpeechAnalyzerTranscriber::pruneFinishedRuns()
{
    std::erase_if(m_runs, [](const std::unique_ptr<Run>& run) { return run->workerDone && run->feederDone; });
}

SegmentStream SpeechAnalyzerTranscriber::transcribe(AudioFrameStream frames)
{
    SegmentStream segments = Channel<TranscriptSegment>::make();
    auto run = std::make_unique<Run>();
    Run& runRef = *run;
    std::stop_source stopRun;
    {
        std::lock_guard lock(m_mutex);
        pruneFinishedRuns();
        runRef.worker =
            std::jthread([&runRef, locale = m_locale, engine = m_engine, frames, segments](std::stop_token stop) {
                transcription(stop, runRef, locale, engine, frames, segments);
                // Stopped by the transcriber going away, the run returns with the stream still open; a reader
                // waiting on it would wait for ever. Otherwise the stream has already ended and this does nothing.
                segments->finish();
                runRef.workerDone = true;
            });
        stopRun = runRef.worker.get_stop_source();
        m_runs.push_back(std::move(run));
    }
    // The consumer giving up (or the stream ending) stops the run.
    segments->onTermination([stopRun]() mutable { stopRun.request_stop(); });
    return segments;
}

void SpeechAnalyzerTranscriber::ensureAssets(std::stop_token stop, SpeechRecognitionEngine& engine,
                                             const RecognizerModule& module, const SegmentStream& segments)
{
    const std::string wanted = bcp47Identifier(module.locale);
    const auto supported = engine.supportedLocales();
    // Exact text equality only: no language-only fallback, no case folding.
    if (std::find(supported.begin(), supported.end(), wanted) == supported.end())
        throw TranscriberError::unsupportedLocale(plainIdentifier(module.locale));
    auto request = engine.assetInstallationRequest(module);
    if (!request) return;
    if (auto notice = request->notice()) yieldNotice(segments, std::move(*notice));
    request->install(stop);
}

void SpeechAnalyzerTranscriber::yieldNotice(const SegmentStream& segments, std::string text)
{
    TranscriptSegment notice;
    notice.id = Uuid::random();
    notice.text = std::move(text);
    notice.status = TranscriptSegment::Status::notice;
    segments->yield(std::move(notice));
}

void SpeechAnalyzerTranscriber::transcription(std::stop_token stop, Run& run, std::string locale,
                                              std::shared_ptr<SpeechRecognitionEngine> engine, AudioFrameStream frames,
                                              SegmentStream segments)
{
    const RecognizerModule module{locale, true};
    std::shared_ptr<StreamingRecognizer> recognizer;
    Stream<AnalyzerBuffer> input;
    try {
        ensureAssets(stop, *engine, module, segments);
        if (stop.stop_requested()) return;
        if (auto notice = engine->preparationNotice(module)) yieldNotice(segments, std::move(*notice));
        recognizer = engine->makeRecognizer(module);
        if (auto notice = engine->notice(module)) yieldNotice(segments, std::move(*notice));
        const auto format = recognizer->bestAvailableAudioFormat();
        if (!format) throw TranscriberError::audioFormatUnavailable();
        input = Channel<AnalyzerBuffer>::make();
        recognizer->start(input);
        if (stop.stop_requested()) {
            recognizer->cancel();
            return;
        }
        run.feederDone = false;
        run.feeder = std::jthread([&run, format = *format, frames, input, recognizer](std::stop_token feederStop) {
            feed(feederStop, run, format, frames, input, recognizer);
        });
    } catch (...) {
        segments->fail(std::current_exception());
        return;
    }

    const auto results = recognizer->results();
    try {
        while (auto result = results->next(stop)) {
            TranscriptSegment segment;
            segment.id = Uuid::random();
            segment.text = std::move(result->text);
            segment.status =
                result->isFinal ? TranscriptSegment::Status::finalized : TranscriptSegment::Status::volatile_;
            if (result->isNotice) segment.status = TranscriptSegment::Status::notice;
            segment.start = finiteOrZero(result->start);
            segment.end = finiteOrZero(result->end);
            segments->yield(std::move(segment));
        }
    } catch (...) {
        // The feeder goes on until the frames end; the cancelled recognizer drops what it still hands over.
        recognizer->cancel();
        segments->fail(std::current_exception());
        return;
    }
    if (stop.stop_requested()) {
        recognizer->cancel();
        return;
    }
    run.feeder.request_stop();
    std::exception_ptr frameError;
    {
        std::lock_guard lock(run.mutex);
        frameError = run.frameError;
    }
    if (frameError)
        segments->fail(frameError);
    else
        segments->finish();
}

void SpeechAnalyzerTranscriber::feed(std::stop_token stop, Run& run, AnalyzerAudioFormat format,
                                     AudioFrameStream frames, Stream<AnalyzerBuffer> input,
                                     std::shared_ptr<StreamingRecognizer> recognizer)
{
    AnalyzerInputConverter converter(format);
    try {
        while (!stop.stop_requested()) {
            auto frame = frames->next(stop);
            if (!frame) break;
            // A frame that cannot be converted (empty, bad rate) is dropped without a word.
            if (auto buffer = converter.makeBuffer(frame->samples, frame->sampleRate)) input->yield(std::move(*buffer));
        }
    } catch (...) {
        // The audio broke off: what arrived is still recognised, then the segment stream reports the failure.
        std::lock_guard lock(run.mutex);
        run.frameError = std::current_exception();
    }
    // Stopped before the frames ended: nobody reads them any more, so the source's later frames are refused.
    if (stop.stop_requested()) frames->cancel();
    if (auto tail = converter.flush()) input->yield(std::move(*tail));
    input->finish();
    try {
        recognizer->finalizeAndFinishThroughEndOfInput();
    } catch (...) {
        // The result sequence ends or fails on its own.
    }
    run.feederDone = true;
}

} // namespace tc
