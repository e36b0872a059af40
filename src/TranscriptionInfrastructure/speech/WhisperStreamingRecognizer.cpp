#include "TranscriptionInfrastructure/speech/WhisperStreamingRecognizer.h"

#include "TranscriptionInfrastructure/diagnostics/LatencyTrace.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"
#include "TranscriptionInfrastructure/speech/SentenceContinuation.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string_view>

namespace tc {

WhisperStreamingRecognizer::WhisperStreamingRecognizer(std::shared_ptr<UtteranceDecoder> decoder)
    : WhisperStreamingRecognizer(std::move(decoder), Settings{})
{}

WhisperStreamingRecognizer::WhisperStreamingRecognizer(std::shared_ptr<UtteranceDecoder> decoder, Settings settings,
                                                       std::unique_ptr<VoiceProbabilityModel> voiceModel,
                                                       std::shared_ptr<UtteranceDecoder> finalDecoder)
    : m_decoder(std::move(decoder)), m_finalDecoder(finalDecoder ? std::move(finalDecoder) : m_decoder),
      m_settings(settings), m_segmenter(settings.segmentation, std::move(voiceModel)),
      m_refreshes({.sampleRate = settings.segmentation.sampleRate,
                   .preRollSeconds = settings.segmentation.preRollSeconds,
                   .firstRefreshSeconds = settings.firstRefreshSeconds,
                   .textlessRefreshSeconds = settings.textlessRefreshSeconds,
                   .minimumRefreshSeconds = settings.minimumRefreshSeconds,
                   .maximumRefreshSeconds = settings.maximumRefreshSeconds,
                   .costFactor = settings.refreshCostFactor}),
      m_settler({.divideAtInnerPauses = settings.divideAtInnerPauses,
                 .leadSamples =
                     static_cast<std::size_t>(settings.segmentation.preRollSeconds * settings.segmentation.sampleRate),
                 .sampleRate = settings.segmentation.sampleRate}),
      m_continuation(settings.holdAfterContinuingWord ? std::make_unique<SentenceContinuation>() : nullptr)
{}

WhisperStreamingRecognizer::~WhisperStreamingRecognizer()
{
    cancel();
    if (m_intake.joinable()) m_intake.join();
    if (m_decoding.joinable()) m_decoding.join();
}

std::optional<AnalyzerAudioFormat> WhisperStreamingRecognizer::bestAvailableAudioFormat()
{
    return AnalyzerAudioFormat{AnalyzerAudioFormat::CommonFormat::float32, m_settings.segmentation.sampleRate, 1};
}

void WhisperStreamingRecognizer::start(Stream<AnalyzerBuffer> input)
{
    std::lock_guard lock(m_mutex);
    if (m_started) throw std::logic_error("recognizer already started");
    m_started = true;
    m_input = std::move(input);
    m_decoding = std::jthread([this](std::stop_token stop) { decodeLoop(stop); });
    m_intake = std::jthread([this](std::stop_token stop) { intakeLoop(stop); });
}

void WhisperStreamingRecognizer::cancel()
{
    m_intake.request_stop();
    m_decoding.request_stop();
    Stream<AnalyzerBuffer> input;
    {
        std::lock_guard lock(m_mutex);
        input = m_input;
    }
    // Later buffers are dropped rather than piling up for a recognizer that no longer reads them.
    if (input) input->cancel();
    m_results->cancel();
    markDone();
}

void WhisperStreamingRecognizer::finalizeAndFinishThroughEndOfInput()
{
    std::unique_lock lock(m_mutex);
    if (!m_started) {
        lock.unlock();
        m_results->finish();
        return;
    }
    m_changed.wait(lock, [&] { return m_done; });
}

void WhisperStreamingRecognizer::markDone()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
}

void WhisperStreamingRecognizer::intakeLoop(std::stop_token stop)
{
    const std::size_t channels = 1;
    while (auto buffer = m_input->next(stop)) {
        const std::size_t bufferChannels = std::max<std::uint32_t>(buffer->format.channelCount, channels);
        std::vector<float> mono;
        std::span<const float> samples = buffer->samples;
        if (bufferChannels > 1) {
            mono.resize(buffer->samples.size() / bufferChannels);
            for (std::size_t i = 0; i < mono.size(); ++i)
                mono[i] = buffer->samples[i * bufferChannels];
            samples = mono;
        }
        {
            std::lock_guard lock(m_mutex);
            queueCompleted(m_segmenter.append(samples));
            LatencyTrace::mark("audio", {m_segmenter.elapsed()});
        }
        m_changed.notify_all();
    }
    if (stop.stop_requested()) return;
    {
        std::lock_guard lock(m_mutex);
        queueCompleted(m_segmenter.finish());
        m_inputEnded = true;
    }
    m_changed.notify_all();
}

void WhisperStreamingRecognizer::queueCompleted(std::vector<SegmentedUtterance> completed)
{
    for (auto& utterance : completed) {
        LatencyTrace::mark("cut", {m_segmenter.elapsed(), utterance.start, utterance.end,
                                   static_cast<double>(utterance.pauseSamples) / 16000.0});
        m_finals.push_back(Work::finalOf(std::move(utterance)));
    }
    m_finalWaiting = !m_finals.empty();
}

bool WhisperStreamingRecognizer::refreshDue() const
{
    if (!m_settings.volatileResults || m_inputEnded || !m_segmenter.inUtterance()) return false;
    // Music is dropped when it ends; decoding it meanwhile would only show made-up text.
    if (m_segmenter.currentSoundsTonal()) return false;
    // The speech so far is decoded as a final already: refreshing it again would only hold that final up.
    if (earlyTryStands()) return false;
    const std::size_t index = m_segmenter.currentIndex();
    return m_refreshes.due(index, m_segmenter.currentSamples().size(), m_shownIndex == index);
}

bool WhisperStreamingRecognizer::firstRefreshPending() const
{
    return m_settings.volatileResults && !m_inputEnded && m_segmenter.inUtterance() &&
           !m_segmenter.currentSoundsTonal() && m_refreshes.firstPending(m_segmenter.currentIndex());
}

bool WhisperStreamingRecognizer::earlyFinalDue() const
{
    if (m_settings.earlyFinalPauseSeconds <= 0 || m_inputEnded || !m_segmenter.inUtterance() || m_held) return false;
    // Only once the utterance has text on show: a pause after the first word or two ("はい、") is mostly not the
    // end, and its try would keep the first text back.
    if (m_segmenter.currentSoundsTonal() || m_shownIndex != m_segmenter.currentIndex()) return false;
    const auto pause = static_cast<std::size_t>(m_settings.earlyFinalPauseSeconds * m_settings.segmentation.sampleRate);
    return m_segmenter.currentPauseSamples() >= pause && !earlyTryStands();
}

bool WhisperStreamingRecognizer::earlyTryStands() const
{
    return m_early && m_segmenter.inUtterance() && m_early->index == m_segmenter.currentIndex() &&
           m_early->covers(m_segmenter.currentSamples().size(), m_segmenter.currentPauseSamples());
}

bool WhisperStreamingRecognizer::retryDue() const
{
    // Finals stay in order: a later final never passes a waiting retry.
    return m_retry && (!m_finals.empty() || !firstRefreshPending());
}

bool WhisperStreamingRecognizer::holdExpired() const
{
    if (!m_held) return false;
    if (m_inputEnded) return m_finals.empty();
    // When the next utterance began, judged by its own start and not by when the decoder gets to it: one that fell
    // behind found the next final queued and joined it across any silence.
    const double preRoll = m_settings.segmentation.preRollSeconds;
    const double next = !m_finals.empty()            ? m_finals.front().start + preRoll
                        : m_segmenter.inUtterance() ? m_segmenter.currentStart() + preRoll
                                                    : m_segmenter.elapsed();
    return next - m_held->work.end >= m_settings.commaHoldSeconds;
}

bool WhisperStreamingRecognizer::holds(const Work& work, const std::string& text) const
{
    if (m_settings.commaHoldSeconds <= 0 || m_inputEnded) return false;
    // An utterance cut at the maximum length did not end at a pause; one near it has no room to grow.
    const auto& segmentation = m_settings.segmentation;
    if (work.end - work.start >= segmentation.maximumUtteranceSeconds - segmentation.cutSearchSeconds) return false;
    return RecognizedText::endsMidSentence(text, m_settings.holdAfterParticle, m_settings.holdAfterNoun) ||
           (m_settings.holdAfterName && RecognizedText::addressesSomeone(text)) ||
           (m_continuation && m_continuation->goesOnAfter(text));
}

bool WhisperStreamingRecognizer::shownTextIsStale() const
{
    // Volatile text of an utterance that was dropped as too short would otherwise stay on show.
    if (!m_shownIndex) return false;
    if (m_held && m_held->work.index == *m_shownIndex) return false;
    if (m_retry && m_retry->index == *m_shownIndex) return false;
    if (m_segmenter.inUtterance() && m_segmenter.currentIndex() == *m_shownIndex)
        return m_segmenter.currentSoundsTonal();
    return std::none_of(m_finals.begin(), m_finals.end(),
                        [&](const Work& final) { return final.index == *m_shownIndex; });
}

WhisperStreamingRecognizer::Work WhisperStreamingRecognizer::nextWork()
{
    Work work;
    if (retryDue()) {
        work = std::move(*m_retry);
        m_retry.reset();
        work.kind = Work::Kind::retry;
    } else if (holdExpired()) {
        work = std::move(m_held->work);
        work.kind = Work::Kind::settle;
        work.heldText = std::move(m_held->text);
        m_held.reset();
    } else if (!m_finals.empty()) {
        work = std::move(m_finals.front());
        m_finals.pop_front();
        m_finalWaiting = !m_finals.empty();
        if (m_held) {
            // The rest of a sentence that paused at a comma: the whole is decoded again as one.
            const std::size_t heldIndex = m_held->work.index;
            work = Work::joined(std::move(m_held->work), std::move(m_held->text), std::move(work));
            m_held.reset();
            if (m_shownIndex == heldIndex) m_shownIndex = work.index;
        }
    } else if (shownTextIsStale()) {
        work.kind = Work::Kind::clear;
        work.index = *m_shownIndex;
        m_shownIndex.reset();
        if (m_held) {
            // What followed a held comma came to nothing: the held part goes back on show.
            work.heldText = m_held->text;
            work.start = m_held->work.start;
            work.end = m_held->work.end;
            m_shownIndex = m_held->work.index;
        }
    } else if (const bool early = earlyFinalDue(); early || refreshDue()) {
        work.kind = early ? Work::Kind::early : Work::Kind::interim;
        work.samples = m_segmenter.currentSamples();
        work.start = m_segmenter.currentStart();
        work.end = work.start + static_cast<double>(work.samples.size()) / m_settings.segmentation.sampleRate;
        work.index = m_segmenter.currentIndex();
        if (!early) m_refreshes.began(work.index, work.samples.size());
    }
    return work;
}

void WhisperStreamingRecognizer::decodeLoop(std::stop_token stop)
{
    try {
        while (true) {
            Work work;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, stop, [&] {
                    return !m_finals.empty() || m_inputEnded || retryDue() || holdExpired() || shownTextIsStale() ||
                           earlyFinalDue() || refreshDue();
                });
                if (stop.stop_requested()) return;
                work = nextWork();
                if (work.kind == Work::Kind::none && m_inputEnded) break;
            }
            if (work.kind != Work::Kind::none) LatencyTrace::mark("work", std::to_string(static_cast<int>(work.kind)));
            switch (work.kind) {
            case Work::Kind::final: runFinal(work, stop); break;
            case Work::Kind::retry: runRetry(work, stop); break;
            case Work::Kind::settle: settle(work, work.heldText); break;
            case Work::Kind::interim: runInterim(work, stop); break;
            case Work::Kind::early: runEarly(work, stop); break;
            case Work::Kind::clear: m_results->yield({work.heldText, work.start, work.end, false}); break;
            case Work::Kind::none: break;
            }
            if (stop.stop_requested()) return;
        }
        m_results->finish();
    } catch (...) {
        m_intake.request_stop();
        m_results->fail(std::current_exception());
    }
    markDone();
}

std::string WhisperStreamingRecognizer::prompt() const
{
    const std::u32string points = RecognizedText::toCodePoints(m_lastFinalText);
    if (points.size() <= m_settings.promptCharacters) return m_settings.initialPrompt + m_lastFinalText;
    return m_settings.initialPrompt +
           RecognizedText::toUtf8(std::u32string_view(points).substr(points.size() - m_settings.promptCharacters));
}

std::string WhisperStreamingRecognizer::accepted(const DecodedUtterance& decoded) const
{
    std::string text =
        RecognizedText::withJapanesePunctuation(RecognizedText::trimmed(RecognizedText::completeUtf8(decoded.text)));
    if (decoded.noSpeechProbability >= m_settings.certainNoSpeech &&
        decoded.averageLogProbability < m_settings.confidentLogProbability)
        return {};
    if (decoded.averageLogProbability < m_settings.inventedLogProbability) return {};
    if (decoded.noSpeechProbability >= m_settings.noSpeechThreshold &&
        decoded.averageLogProbability < m_settings.unsureLogProbability)
        return {};
    if (RecognizedText::isNonSpeechPhrase(text)) return {};
    if (m_settings.dropSampledLatinLines && decoded.sampled && RecognizedText::isLatinAlone(text)) return {};
    return text;
}

UtteranceDecoder::Pass WhisperStreamingRecognizer::firstTryPass() const
{
    const bool split = m_settings.firstTextBeforeRetry && m_settings.volatileResults;
    return split ? UtteranceDecoder::Pass::finalFirstTry : UtteranceDecoder::Pass::final;
}

void WhisperStreamingRecognizer::runEarly(const Work& work, std::stop_token stop)
{
    // Not abandoned when the utterance ends meanwhile: that is when it is wanted.
    const std::string used = prompt();
    auto decoded =
        decodeWith(*m_finalDecoder, work, used, firstTryPass(), [&] { return stop.stop_requested(); });
    if (!decoded) return;
    std::lock_guard lock(m_mutex);
    m_early = EarlyTry{work.index, work.samples.size(), used, std::move(*decoded)};
}

std::optional<DecodedUtterance> WhisperStreamingRecognizer::takeEarlyTry(const Work& work, const std::string& prompt)
{
    std::lock_guard lock(m_mutex);
    if (!m_early || m_early->index > work.index) return std::nullopt;
    EarlyTry early = std::move(*m_early);
    m_early.reset();
    // A joined final holds other audio; speech after the try's samples means the utterance went on.
    if (early.index != work.index || !work.heldText.empty() || early.prompt != prompt ||
        !early.covers(work.samples.size(), work.pauseSamples))
        return std::nullopt;
    return std::move(early.decoded);
}

void WhisperStreamingRecognizer::runFinal(Work& work, std::stop_token stop)
{
    const std::string used = prompt();
    auto decoded = takeEarlyTry(work, used);
    LatencyTrace::mark("final-begins", decoded ? "early" : "decode");
    if (!decoded)
        decoded = decodeWith(*m_finalDecoder, work, used, firstTryPass(), [&] { return stop.stop_requested(); });
    if (!decoded) return;
    if (decoded->retryWanted) LatencyTrace::mark("final-retry");
    if (!decoded->retryWanted) {
        finishFinal(work, *decoded);
        return;
    }
    std::optional<RecognitionResult> shown;
    bool deferred = false;
    {
        std::lock_guard lock(m_mutex);
        deferred = firstRefreshPending() && m_finals.empty();
        if (deferred) {
            // The greedy text stands in while the new utterance gets its first text, unless it contradicts the
            // volatile text on show: under babble the greedy try can take up another voice's words.
            m_retryText = accepted(*decoded);
            const bool contradicts = work.heldText.empty() && m_shownIndex == work.index && !m_shownText.empty() &&
                                     !RecognizedText::beginsWithMostOf(m_retryText, m_shownText);
            if (contradicts)
                m_retryText = m_shownText;
            else if (!m_retryText.empty()) {
                m_shownIndex = work.index;
                shown = RecognitionResult{m_retryText, work.start, work.end, false};
            }
            m_retry = std::move(work);
        }
    }
    if (shown) m_results->yield(*shown);
    if (!deferred) runRetry(work, stop);
}

void WhisperStreamingRecognizer::runRetry(Work& work, std::stop_token stop)
{
    const auto decoded = decodeWith(*m_finalDecoder, work, prompt(), UtteranceDecoder::Pass::finalRetry,
                                    [&] { return stop.stop_requested(); });
    if (!decoded) return;
    finishFinal(work, *decoded);
    // A final takes the volatile line off the screen: the utterance in progress shows its own text again.
    std::optional<RecognitionResult> again;
    {
        std::lock_guard lock(m_mutex);
        if (m_segmenter.inUtterance() && m_shownIndex == m_segmenter.currentIndex() && !m_held && !m_shownText.empty())
            again = RecognitionResult{m_shownText, m_segmenter.currentStart(), m_segmenter.elapsed(), false};
    }
    if (again) m_results->yield(*again);
}

void WhisperStreamingRecognizer::finishFinal(const Work& work, const DecodedUtterance& decoded)
{
    using Step = FinalSettler::Step;
    for (Step& step : m_settler.steps(work, accepted(decoded))) {
        switch (step.kind) {
        case Step::Kind::settle: settle(step.work, step.text); break;
        case Step::Kind::settleOrHold: settleOrHold(step.work, step.text); break;
        case Step::Kind::decodeAlone: {
            // A retry's rest is a final of its own, first try first.
            step.work.kind = Work::Kind::final;
            std::lock_guard lock(m_mutex);
            m_finals.push_front(std::move(step.work));
            m_finalWaiting = true;
            break;
        }
        }
    }
}

void WhisperStreamingRecognizer::settleOrHold(const Work& work, const std::string& text)
{
    bool held = false;
    {
        std::lock_guard lock(m_mutex);
        held = !text.empty() && holds(work, text);
        if (held) {
            m_shownIndex = work.index;
            m_held = Held{work, text};
        }
    }
    if (held) {
        LatencyTrace::mark("held", text);
        m_results->yield({text, work.start, work.end, false});
    }
    else
        settle(work, text);
}

void WhisperStreamingRecognizer::settle(const Work& work, const std::string& text)
{
    bool wasShown = false;
    {
        std::lock_guard lock(m_mutex);
        wasShown = m_shownIndex == work.index;
        if (wasShown) m_shownIndex.reset();
    }
    if (!text.empty()) {
        LatencyTrace::mark("final", text);
        m_results->yield({text, work.start, work.end, true});
        m_lastFinalText = text;
    } else if (wasShown) {
        // Nothing was said after all: take the interim text off the screen instead of settling a line.
        m_results->yield({"", work.start, work.end, false});
    }
}

void WhisperStreamingRecognizer::runInterim(Work& work, std::stop_token stop)
{
    const auto began = std::chrono::steady_clock::now();
    const auto decoded = decodeWith(*m_decoder, work, prompt(), UtteranceDecoder::Pass::interim,
                                    [&] { return stop.stop_requested() || m_finalWaiting.load(); });
    const double cost = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (!decoded) return;
    const std::string text = accepted(*decoded);
    std::optional<RecognitionResult> shown;
    {
        std::lock_guard lock(m_mutex);
        m_refreshes.cost(cost);
        // The utterance ended while this ran: its final result is on the way.
        if (!m_segmenter.inUtterance() || m_segmenter.currentIndex() != work.index) return;
        if (m_held) {
            // The sentence so far: the held part and what follows it.
            if (text.empty()) return;
            m_shownIndex = work.index;
            shown = RecognitionResult{m_held->text + text, m_held->work.start, work.end, false};
        } else if (!text.empty()) {
            m_shownIndex = work.index;
            m_shownText = text;
            // A final waiting for its retry keeps its text on show, ahead of the new one.
            shown = m_retry ? RecognitionResult{m_retryText + text, m_retry->start, work.end, false}
                            : RecognitionResult{text, work.start, work.end, false};
        } else if (m_shownIndex == work.index) {
            m_shownIndex.reset();
            shown = RecognitionResult{"", work.start, work.end, false};
        }
    }
    if (shown) m_results->yield(*shown);
}

std::optional<DecodedUtterance> WhisperStreamingRecognizer::decodeWith(UtteranceDecoder& decoder, const Work& work,
                                                                       const std::string& prompt,
                                                                       UtteranceDecoder::Pass pass,
                                                                       const std::function<bool()>& shouldAbort)
{
    auto decoded = decoder.decode(work.samples, prompt, pass, shouldAbort);
    if (auto notice = decoder.takeNotice()) {
        RecognitionResult result;
        result.text = std::move(*notice);
        result.isNotice = true;
        m_results->yield(std::move(result));
    }
    return decoded;
}

} // namespace tc
