#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "TranscriptionInfrastructure/speech/WhisperStreamingRecognizer.h"
#include "support/AudioSignals.h"
#include "support/Locked.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>
#include <span>
#include <thread>

namespace tc {
namespace {

using namespace std::chrono_literals;
using Pass = UtteranceDecoder::Pass;

// A decoder that answers what the test scripts and takes as long as the test says, giving up when asked to abort.
// Records every call. Thread-safe.
class ScriptedUtteranceDecoder final : public UtteranceDecoder {
public:
    struct Call {
        Pass pass = Pass::interim;
        std::size_t samples = 0;
        std::string prompt;
        bool aborted = false;
    };

    // The answer to a call; by default "発話N。" for the N-th final and "途中N" for interims.
    std::function<DecodedUtterance(const Call& call, std::size_t finalNumber)> answer;
    std::chrono::milliseconds interimCost{0};
    std::chrono::milliseconds finalCost{0};
    // Pass::finalRetry; finalCost when unset.
    std::optional<std::chrono::milliseconds> retryCost;
    // Thrown by every decode when set.
    std::exception_ptr failure;

    std::optional<DecodedUtterance> decode(std::span<const float> samples, const std::string& prompt, Pass pass,
                                           const std::function<bool()>& shouldAbort) override
    {
        if (failure) std::rethrow_exception(failure);
        const auto [index, finalNumber] = m_lock.change([&] {
            // A retry continues the final its first try began.
            m_finals += pass == Pass::final || pass == Pass::finalFirstTry ? 1 : 0;
            m_calls.push_back({pass, samples.size(), prompt, false});
            return std::pair{m_calls.size() - 1, m_finals};
        });
        const auto cost = pass == Pass::interim      ? interimCost
                          : pass == Pass::finalRetry ? retryCost.value_or(finalCost)
                                                     : finalCost;
        // The recognizer's abort flags change without a word to the decoder: wake() makes the wait ask again.
        const bool aborted = m_lock.waitFor(cost, shouldAbort);
        const Call call = m_lock.change([&, index = index] {
            m_calls[index].aborted = aborted;
            return m_calls[index];
        });
        if (aborted) return std::nullopt;
        if (answer) return answer(call, finalNumber);
        const std::string text = pass == Pass::interim ? "途中" + std::to_string(finalNumber + 1)
                                                       : "発話" + std::to_string(finalNumber) + "。";
        return DecodedUtterance{text, 0.0F, -0.1};
    }

    // Called whenever the recognizer was handed something that may abort the decoding in progress.
    void wake()
    {
        m_lock.change([] {});
    }
    std::vector<Call> calls() const { return m_lock.read(m_calls); }
    bool waitForCalls(std::size_t count)
    {
        return m_lock.waitFor(10s, [&] { return m_calls.size() >= count; });
    }

private:
    test::Locked m_lock;
    std::vector<Call> m_calls;
    std::size_t m_finals = 0;
};

std::vector<float> utterance(const std::string& id)
{
    return test::testSentence(id);
}

using test::concatenated;

struct Collected {
    std::vector<RecognitionResult> results;
    std::exception_ptr error;
};

// Waits (at most the timeout) until volatile text is on show; whether it came.
using TextWait = std::function<bool(std::chrono::seconds)>;

// Feeds 100 ms buffers `speedup` times faster than real time (0: all at once), ends the input and waits. After each
// buffer, fed (when given) is told how many samples went in so far.
Collected run(WhisperStreamingRecognizer& recognizer, const std::vector<float>& audio, double speedup,
              ScriptedUtteranceDecoder* decoder = nullptr,
              const std::function<void(std::size_t, const TextWait&)>& fed = {})
{
    auto input = Channel<AnalyzerBuffer>::make();
    recognizer.start(input);
    test::Locked lock;
    Collected collected;
    std::jthread reader([&] {
        try {
            while (auto result = recognizer.results()->next())
                lock.change([&] { collected.results.push_back(*result); });
        } catch (...) {
            lock.set(collected.error, std::current_exception());
        }
    });
    const TextWait textShown = [&](std::chrono::seconds timeout) {
        return lock.waitFor(timeout, [&] {
            return std::any_of(collected.results.begin(), collected.results.end(),
                               [](const auto& r) { return !r.isFinal && !r.isNotice && !r.text.empty(); });
        });
    };
    const auto began = std::chrono::steady_clock::now();
    for (std::size_t offset = 0; offset < audio.size(); offset += 1600) {
        const auto part = std::span(audio).subspan(offset, std::min<std::size_t>(1600, audio.size() - offset));
        input->yield(AnalyzerBuffer{AnalyzerAudioFormat{}, {part.begin(), part.end()}});
        if (decoder) decoder->wake();
        if (fed) fed(offset + part.size(), textShown);
        const double sent = static_cast<double>(offset + part.size()) / 16000;
        if (speedup > 0) std::this_thread::sleep_until(began + std::chrono::duration<double>(sent / speedup));
    }
    input->finish();
    if (decoder) decoder->wake();
    recognizer.finalizeAndFinishThroughEndOfInput();
    reader.join();
    return collected;
}

// For a decoder scripted by the order of final decodings: no try is made in a pause before the cut.
WhisperStreamingRecognizer::Settings finalsDecodedOnceCut()
{
    WhisperStreamingRecognizer::Settings settings;
    settings.earlyFinalPauseSeconds = 0;
    return settings;
}

std::vector<RecognitionResult> finals(const Collected& collected)
{
    std::vector<RecognitionResult> out;
    std::copy_if(collected.results.begin(), collected.results.end(), std::back_inserter(out),
                 [](const auto& r) { return r.isFinal; });
    return out;
}

// What a recognizer over a scripted decoder showed, and what the decoder was asked.
struct Scripted {
    Collected collected;
    std::vector<ScriptedUtteranceDecoder::Call> calls;

    std::vector<RecognitionResult> lines() const { return finals(collected); }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& line : lines())
            out.push_back(line.text);
        return out;
    }
    // The audio of each final decoding (tries and retries too), or of each refresh that ran to its end.
    std::vector<std::size_t> sizes(bool ofFinals) const
    {
        std::vector<std::size_t> out;
        for (const auto& call : calls)
            if (ofFinals ? call.pass != Pass::interim : call.pass == Pass::interim && !call.aborted)
                out.push_back(call.samples);
        return out;
    }
};

struct Costs {
    std::chrono::milliseconds interim{0};
    std::chrono::milliseconds final{0};
    std::optional<std::chrono::milliseconds> retry;
};

// Runs the audio through a recognizer over a decoder answering `answer` (the default texts when empty).
Scripted scripted(const std::vector<float>& audio, double speedup, const WhisperStreamingRecognizer::Settings& settings,
                  std::function<DecodedUtterance(const ScriptedUtteranceDecoder::Call&, std::size_t)> answer = {},
                  Costs costs = {})
{
    auto decoder = std::make_shared<ScriptedUtteranceDecoder>();
    decoder->answer = std::move(answer);
    decoder->interimCost = costs.interim;
    decoder->finalCost = costs.final;
    decoder->retryCost = costs.retry;
    WhisperStreamingRecognizer recognizer(decoder, settings);
    Scripted out{run(recognizer, audio, speedup, decoder.get()), {}};
    EXPECT_FALSE(out.collected.error);
    out.calls = decoder->calls();
    return out;
}

TEST(WhisperStreamingRecognizer, ReportsVolatileTextWhileSpeakingThenOneFinalPerUtterance)
{
    const auto first = utterance("s05");
    const auto audio =
        concatenated({test::silence(0.5), first, test::silence(1.0), utterance("s09"), test::silence(1.0)});
    const auto outcome = scripted(audio, 4.0, finalsDecodedOnceCut());
    const auto& collected = outcome.collected;
    const auto settled = outcome.lines();
    ASSERT_EQ(settled.size(), 2U);
    EXPECT_EQ(settled[0].text, "発話1。");
    EXPECT_EQ(settled[1].text, "発話2。");
    // Each final spans its utterance; speech starts 0.3 s into each file.
    EXPECT_NEAR(settled[0].start, 0.5, 0.35);
    EXPECT_GT(settled[0].end, 0.5 + static_cast<double>(first.size()) / 16000 - 0.3);
    EXPECT_LT(settled[0].end, settled[1].start);

    // Volatile text comes before its final, never after: s05 lasts about 3 s, refreshed every 0.5 s of speech.
    const auto firstFinal =
        std::find_if(collected.results.begin(), collected.results.end(), [](const auto& r) { return r.isFinal; });
    EXPECT_GE(firstFinal - collected.results.begin(), 2);
    for (auto r = firstFinal; r != collected.results.end(); ++r)
        EXPECT_TRUE(r->isFinal || r->start >= settled[0].end);

    // No previous line as context: the model copied or continued it.
    for (const auto& call : outcome.calls)
        EXPECT_EQ(call.prompt, "");
}

TEST(WhisperStreamingRecognizer, NonSpeechNeverBecomesALineAndTextOnShowIsTakenBack)
{
    const auto speech = concatenated({utterance("s05"), test::silence(1.0)});
    const auto tune = concatenated({test::musicTones(12.0, 5), test::silence(1.0)});
    const struct {
        const char* why;
        const std::vector<float>* audio;
        DecodedUtterance final;
        const char* kept = nullptr; // the line, if any
    } cases[] = {
        {"a tune, not decoded while it plays", &tune, {"ラララ", 0.0F, -0.2}},
        {"a known phrase over noise", &speech, {"ご視聴ありがとうございました。", 0.1F, -0.2}},
        {"almost surely no speech", &speech, {"えーと", 0.9F, -0.47}},
        {"likely no speech and an unsure text", &speech, {"はい", 0.7F, -0.9}},
        {"punctuation only", &speech, {"。、", 0.0F, -0.1}},
        {"likely no speech, a sure text: kept, trimmed", &speech, {" 田中です。\u3000", 0.65F, -0.2}, "田中です。"},
        // A short sentence alone in the model's window reads as almost surely no speech.
        {"almost surely no speech, sure tokens: kept", &speech, {"担当は田中さん。", 0.93F, -0.42}, "担当は田中さん。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto outcome = scripted(*c.audio, 4.0, {}, [&](const auto& call, std::size_t) {
            return call.pass == Pass::interim ? DecodedUtterance{"こんにちは", 0.0F, -0.1} : c.final;
        });
        const auto& collected = outcome.collected;
        const auto settled = outcome.lines();
        if (c.kept) {
            ASSERT_EQ(settled.size(), 1U);
            EXPECT_EQ(settled[0].text, c.kept);
            continue;
        }
        EXPECT_TRUE(settled.empty());
        // Over a tune at most the first refresh, before the pitch could be judged, shows text.
        EXPECT_TRUE(c.audio == &tune ? outcome.calls.size() <= 1 : !collected.results.empty());
        EXPECT_TRUE(collected.results.empty() || collected.results.back().text.empty());
    }
}

// The final lines of a recognizer with a fresh decoder: its fallback sampling carries state between decodings.
std::vector<std::string> realLines(WhisperContext& model, WhisperStreamingRecognizer::Settings settings,
                                   const std::vector<float>& audio)
{
    settings.volatileResults = false;
    WhisperStreamingRecognizer recognizer(model.makeDecoder("ja", settings.decoding), settings);
    std::vector<std::string> texts;
    for (const auto& r : finals(run(recognizer, audio, 0)))
        texts.push_back(r.text);
    return texts;
}

TEST(WhisperStreamingRecognizer, TheRealModelsDoubtKeepsNoiseAndMusicFromBecomingLines)
{
    const auto model = test::realSpeechModel();
    if (!model) return;
    const auto decoder = model->makeDecoder("ja");
    const auto decode = [&](const std::vector<float>& audio) {
        return *decoder->decode(audio, "", Pass::final, [] { return false; });
    };
    // Speech stays unlikely to be silence, with pink noise at 5 dB SNR too (0.03-0.15 here).
    const auto noise = test::readSpeechFile(test::dataDir() / "speech" / "noise.flac");
    for (const char* id : {"s01", "s12"}) {
        auto speech = utterance(id);
        EXPECT_LT(decode(speech).noSpeechProbability, 0.3F) << id;
        test::addNoise(speech, noise, 5.0);
        EXPECT_LT(decode(speech).noSpeechProbability, 0.3F) << id << " in noise";
    }
    // Noise alone, which the model puts words to without judging it silence (0.51 here), makes no line: it does not
    // rise and fall as speech does.
    const WhisperStreamingRecognizer::Settings defaults;
    EXPECT_FALSE(decode(noise).text.empty());
    EXPECT_EQ(realLines(*model, defaults, concatenated({test::silence(0.5), noise, test::silence(1.0)})),
              std::vector<std::string>{})
        << "noise";

    // A tune: no line gets through. Let through by voice activity, the no-speech gate and the check for loops on a
    // sound, the model guesses at it, partly with very improbable tokens, and only the gate on invented text is
    // left to drop those lines.
    const auto tune = concatenated({test::musicTones(25.0, 5), test::silence(1.0)});
    EXPECT_EQ(realLines(*model, defaults, tune), std::vector<std::string>{}) << "all gates on";
    auto settings = defaults;
    settings.segmentation.maximumSteadyPitchShare = 1.0;
    settings.noSpeechThreshold = settings.certainNoSpeech = 2.0F;
    settings.decoding.dropSoundLoops = false;
    const auto kept = realLines(*model, settings, tune);
    settings.inventedLogProbability = -100;
    const auto all = realLines(*model, settings, tune);
    EXPECT_LT(kept.size(), all.size()) << ::testing::PrintToString(all);
}

TEST(WhisperStreamingRecognizer, ASentenceThatPausedMidwayWaitsForItsRestBeforeItSettles)
{
    // Four utterances; the decoder ends the first in a particle (at a long pause it mostly leaves the comma out)
    // and the third at a comma. The second follows the first after 1 s, the fourth follows the third only after
    // 2 s of silence: the pause between two sentences, not within one.
    const auto first = utterance("s05");
    const auto second = utterance("s09");
    const auto audio = concatenated({test::silence(0.5), first, test::silence(1.0), second, test::silence(1.0),
                                     utterance("s42"), test::silence(2.0), utterance("s07"), test::silence(1.0)});
    const auto lines = [&](bool hold, const std::vector<float>& input = {}, double speedup = 4.0,
                           std::chrono::milliseconds finalCost = 0ms) {
        auto settings = finalsDecodedOnceCut();
        if (!hold) settings.commaHoldSeconds = 0.0;
        settings.holdAfterParticle = hold;
        const auto answer = [](const auto& call, std::size_t finalNumber) {
            if (call.pass == Pass::interim) return DecodedUtterance{"途中", 0.0F, -0.1};
            // What the decoder reads depends on how much it hears: a comma after the first part alone.
            const bool joined = call.samples > 16000 * 5;
            const std::vector<std::string> texts{"一つ目では", joined ? "一つ目では、二つ目。" : "二つ目。", "三つ目、",
                                                 "四つ目。"};
            return DecodedUtterance{texts.at(std::min<std::size_t>(finalNumber, texts.size()) - 1), 0.0F, -0.1};
        };
        return scripted(input.empty() ? audio : input, speedup, settings, answer, {.final = finalCost}).collected;
    };

    const auto held = lines(true);
    const auto settled = finals(held);
    ASSERT_EQ(settled.size(), 3U);
    EXPECT_EQ(settled[0].text, "一つ目では、二つ目。");
    EXPECT_NEAR(settled[0].start, 0.5, 0.35);
    // Past the bounded wait a comma settles as it is.
    EXPECT_EQ(settled[1].text, "三つ目、");
    EXPECT_EQ(settled[2].text, "四つ目。");
    // Meanwhile the held part stays on show, with what follows it.
    const auto shown = [&](const std::string& text) {
        return std::any_of(held.results.begin(), held.results.end(),
                           [&](const auto& r) { return !r.isFinal && r.text == text; });
    };
    EXPECT_TRUE(shown("一つ目では"));
    EXPECT_TRUE(shown("一つ目では途中"));

    const auto cut = finals(lines(false));
    ASSERT_EQ(cut.size(), 4U);
    EXPECT_EQ(cut[0].text, "一つ目では");

    // A decoder far behind the speech finds the fourth utterance queued when it holds the third: the 2 s of silence
    // between them still keep them apart.
    const auto behind = finals(lines(true, concatenated({audio, test::silence(20.0)}), 20.0, 300ms));
    ASSERT_EQ(behind.size(), 3U);
    EXPECT_EQ(behind[0].text, "一つ目では、二つ目。");
    EXPECT_EQ(behind[1].text, "三つ目、");
}

TEST(WhisperStreamingRecognizer, TwoSentencesSpokenAsOneUtteranceBecomeTwoLinesEachWithItsTime)
{
    // A fast talker: the second sentence follows the first after 0.4 s, too soon to end the utterance.
    const auto trimmed = [](std::vector<float> samples, double head, double tail) {
        samples.erase(samples.end() - static_cast<std::ptrdiff_t>(tail * 16000), samples.end());
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(head * 16000));
        return samples;
    };
    const auto first = trimmed(utterance("s03"), 0.0, 0.1);
    // The middle of the pause: 0.2 s of each file's silent edge are left on either side.
    const double junction = 0.5 + static_cast<double>(first.size()) / 16000;
    const auto audio =
        concatenated({test::silence(0.5), first, trimmed(utterance("s09"), 0.1, 0.0), test::silence(1.0)});
    const auto lines = [&](bool divide, const std::string& text) {
        auto settings = finalsDecodedOnceCut();
        settings.divideAtInnerPauses = divide;
        return scripted(audio, 4.0, settings,
                        [&](const auto& call, std::size_t) {
                            return DecodedUtterance{call.pass == Pass::interim ? "途中" : text, 0.0F, -0.1};
                        })
            .lines();
    };
    const std::string both = "明日の会議は午後3時からです。次の打ち合わせはいつにしましょうか。";

    const auto divided = lines(true, both);
    ASSERT_EQ(divided.size(), 2U);
    EXPECT_EQ(divided[0].text, "明日の会議は午後3時からです。");
    EXPECT_EQ(divided[1].text, "次の打ち合わせはいつにしましょうか。");
    EXPECT_NEAR(divided[0].start, 0.5, 0.35);
    EXPECT_NEAR(divided[0].end, junction, 0.25);
    EXPECT_DOUBLE_EQ(divided[1].start, divided[0].end);

    const auto whole = lines(false, both);
    ASSERT_EQ(whole.size(), 1U);
    EXPECT_EQ(whole[0].text, both);
}

TEST(WhisperStreamingRecognizer, AHeldPartStaysInItsJoinedLineUnlessTheJoinedDecodingLeftItOut)
{
    // Two utterances 1 s apart: the first final, the joined decoding, then (if that looks unsure) the rest alone.
    const auto audio =
        concatenated({test::silence(0.5), utterance("s05"), test::silence(1.0), utterance("s09"), test::silence(1.0)});
    using Lines = std::vector<std::string>;
    const auto lines = [&](const std::string& first, const std::string& joined, std::size_t finalDecodings,
                           bool continuing = false, bool names = true) {
        auto settings = finalsDecodedOnceCut();
        settings.holdAfterContinuingWord = continuing;
        settings.holdAfterName = names;
        const auto outcome = scripted(audio, 4.0, settings, [&](const auto& call, std::size_t n) {
            if (call.pass == Pass::interim) return DecodedUtterance{"途中", 0.0F, -0.1};
            return DecodedUtterance{n == 1 ? first : n == 2 ? joined : "予算を見直します。", 0.0F, -0.1};
        });
        const auto samples = outcome.sizes(true);
        EXPECT_EQ(samples.size(), finalDecodings) << first;
        EXPECT_TRUE(samples.size() != 3 || samples[2] == samples[1] - samples[0]) << "the rest without the held part";
        return outcome.texts();
    };
    // Which endings hold a line is RecognizedText's and SentenceContinuation's to tell; here, that the recognizer
    // acts on it: a word the dictionary says a sentence goes on after joins the next utterance.
    EXPECT_EQ(lines("フライアントから", "クライアントから修正の依頼がありました。", 2, true),
              (Lines{"クライアントから修正の依頼がありました。"}));
    // Someone addressed by name before a pause (jf_tebukuro's reading in clean speech); a name given as a reply keeps
    // its own line.
    const std::string request = "小林さん、議事録をお願いできますか。";
    EXPECT_EQ(lines("小林さん。", request, 2), (Lines{request}));
    EXPECT_EQ(lines("小林さん。", "議事録をお願いできますか。", 2, false, false),
              (Lines{"小林さん。", "議事録をお願いできますか。"}));
    EXPECT_EQ(lines("田中さん。", "田中さん。予算を見直します。", 2), (Lines{"田中さん。", "予算を見直します。"}));
    // A whole sentence misheard as unfinished: read with the next one, it ends where that one begins.
    EXPECT_EQ(lines("今月の問い合わせは約500件で", "今月の問い合わせは約500件でした。予算を見直します。", 2),
              (Lines{"今月の問い合わせは約500件でした。", "予算を見直します。"}));
    // The joined decoding left one part out: the rest is decoded alone (FinalSettler tells the other readings).
    EXPECT_EQ(lines("会議では", "予算を見直します。", 3), (Lines{"会議では", "予算を見直します。"}));
}

TEST(WhisperStreamingRecognizer, FinalsComeFirstWhenTheMachineFallsBehind)
{
    // Refreshes cost far more than real time, finals little: every refresh in flight when an utterance ends is
    // abandoned, and each utterance still gets its final, in order.
    const auto audio = concatenated({utterance("s05"), test::silence(0.8), utterance("s42"), test::silence(0.8),
                                     utterance("s09"), test::silence(1.0)});
    const auto outcome = scripted(audio, 4.0, {}, {}, {.interim = 5s, .final = 20ms});
    const auto texts = outcome.texts();
    ASSERT_EQ(texts.size(), 3U);
    EXPECT_EQ(texts[0], "発話1。");
    EXPECT_EQ(texts[2], "発話3。");
    const auto& calls = outcome.calls;
    EXPECT_GE(
        std::count_if(calls.begin(), calls.end(), [](const auto& c) { return c.pass == Pass::interim && c.aborted; }),
        2);
}

TEST(WhisperStreamingRecognizer, RefreshesFollowTheirMeasuredCost)
{
    // A refresh costing 0.6 s spaces refreshes by at least 0.9 s of audio instead of 0.5 s.
    const auto sizes =
        scripted(concatenated({utterance("s07"), test::silence(1.0)}), 1.0, {}, {}, {.interim = 600ms}).sizes(false);
    ASSERT_GE(sizes.size(), 2U);
    for (std::size_t i = 1; i < sizes.size(); ++i)
        EXPECT_GE(sizes[i] - sizes[i - 1], 14000U);
}

TEST(WhisperStreamingRecognizer, UntilTextShowsRefreshesComeSooner)
{
    // Over the first syllables the decoder's text is often judged no speech; the next refresh then comes after
    // 0.3 s of audio, or as soon as this one is done, instead of 0.5 s or 1.5 times its cost (here 0.45 s), and
    // once text is on show the usual spacing returns.
    const auto gaps = [](bool usualSpacing) {
        WhisperStreamingRecognizer::Settings settings;
        if (usualSpacing) settings.textlessRefreshSeconds = 0;
        const auto answer = [](const auto& call, std::size_t) {
            if (call.pass != Pass::interim) return DecodedUtterance{"発話。", 0.0F, -0.1};
            // Under a second of audio: what the first refreshes over a word's start read like.
            return call.samples < 16000 ? DecodedUtterance{"あたらし", 0.75F, -0.74}
                                        : DecodedUtterance{"途中", 0.1F, -0.2};
        };
        const auto sizes = scripted(concatenated({test::silence(0.5), utterance("s07"), test::silence(1.0)}), 1.0,
                                    settings, answer, {.interim = 300ms})
                               .sizes(false);
        std::vector<std::pair<std::size_t, bool>> out; // gap in samples, text on show before it
        for (std::size_t i = 1; i < sizes.size(); ++i)
            out.emplace_back(sizes[i] - sizes[i - 1], sizes[i - 1] >= 16000);
        return out;
    };
    const auto sooner = gaps(false);
    ASSERT_GE(sooner.size(), 3U);
    for (const auto& [gap, shown] : sooner)
        EXPECT_TRUE(shown ? gap >= 8000 : gap < 8000) << gap << (shown ? " after text" : " before text");
    const auto usual = gaps(true);
    ASSERT_FALSE(usual.empty());
    EXPECT_GE(usual.front().first, 8000U);
}

TEST(WhisperStreamingRecognizer, AFinalsRetryWaitsForTheFirstTextOfTheUtteranceThatBeganMeanwhile)
{
    // The first utterance's greedy try wants the fallback tries, and the next utterance begins while it runs.
    const auto collect = [](bool retryAtOnce, const std::string& greedy) {
        auto settings = finalsDecodedOnceCut();
        if (retryAtOnce) settings.firstTextBeforeRetry = false;
        const auto answer = [greedy](const auto& call, std::size_t finalNumber) {
            // Interims of the second utterance come after the first one's first try.
            if (call.pass == Pass::interim) return DecodedUtterance{finalNumber == 0 ? "一つ" : "途中2", 0.0F, -0.1};
            if (finalNumber == 1 && call.pass == Pass::finalFirstTry) return DecodedUtterance{greedy, 0.0F, -1.2, true};
            return DecodedUtterance{finalNumber == 1 ? "一つ目。" : "二つ目。", 0.0F, -0.1};
        };
        const auto audio = concatenated(
            {test::silence(0.5), utterance("s05"), test::silence(0.8), utterance("s09"), test::silence(1.0)});
        return scripted(audio, 4.0, settings, answer, {.final = 500ms, .retry = 0ms}).collected.results;
    };
    const auto position = [](const std::vector<RecognitionResult>& results, const std::string& text, bool isFinal) {
        return std::find_if(results.begin(), results.end(),
                            [&](const auto& r) { return r.text == text && r.isFinal == isFinal; }) -
               results.begin();
    };

    const auto results = collect(false, "一つ目");
    const auto firstFinal = position(results, "一つ目。", true);
    ASSERT_LT(firstFinal, static_cast<std::ptrdiff_t>(results.size()));
    EXPECT_GT(position(results, "二つ目。", true), firstFinal + 1) << "finals in order";
    // The greedy text stands in, and the new utterance's first text follows it on the same line...
    EXPECT_LT(position(results, "一つ目途中2", false), firstFinal);
    // ...and is on show again once the first utterance's line has settled.
    EXPECT_EQ(position(results, "途中2", false), firstFinal + 1);

    // Greedy text unlike the volatile text on show (another voice's words) does not replace it.
    const auto unlike = collect(false, "五月十日のお寒");
    EXPECT_LT(position(unlike, "一つ途中2", false), position(unlike, "一つ目。", true));
    EXPECT_EQ(position(unlike, "五月十日のお寒", false), static_cast<std::ptrdiff_t>(unlike.size()));

    const auto waited = collect(true, "一つ目");
    EXPECT_GT(position(waited, "途中2", false), position(waited, "一つ目。", true));
}

TEST(WhisperStreamingRecognizer, ASampledRetryThatTurnedIntoEnglishIsNoLine)
{
    // Decoder output at pink 10 dB for the end of "月額の利用料は2980円です。": an unsure greedy try, then a sampled
    // one in English. The second utterance's greedy try reads English confidently.
    const auto linesWith = [](bool drop) {
        auto settings = finalsDecodedOnceCut();
        settings.dropSampledLatinLines = drop;
        const auto audio = concatenated(
            {test::silence(0.5), utterance("s05"), test::silence(1.5), utterance("s09"), test::silence(1.0)});
        return scripted(audio, 0, settings,
                        [](const auto& call, std::size_t finalNumber) {
                            if (call.pass == Pass::interim) return DecodedUtterance{"", 0.9F, -1.0};
                            if (finalNumber == 2) return DecodedUtterance{"OK", 0.1F, -0.4};
                            if (call.pass == Pass::finalRetry)
                                return DecodedUtterance{"Thank you for the hot season.", 0.2F, -0.6, false, true};
                            return DecodedUtterance{"「Thank you」を変更し自由へんのさ", 0.2F, -1.3, true};
                        })
            .texts();
    };
    EXPECT_EQ(linesWith(true), std::vector<std::string>{"OK"});
    EXPECT_EQ(linesWith(false), (std::vector<std::string>{"Thank you for the hot season.", "OK"}));
}

TEST(WhisperStreamingRecognizer, AFinalsFirstTryBeginsInThePauseThatEndsItsUtterance)
{
    const auto collect = [](const std::vector<float>& audio, double earlyPauseSeconds) {
        WhisperStreamingRecognizer::Settings settings;
        settings.earlyFinalPauseSeconds = earlyPauseSeconds;
        // A long end pause leaves the try time to begin however busy the machine is.
        settings.segmentation.endPauseSeconds = 1.2;
        // A final's text tells how much audio it was decoded from.
        const auto outcome = scripted(audio, 2.0, settings, [](const auto& call, std::size_t) {
            return DecodedUtterance{call.pass == Pass::interim ? "途中" : std::to_string(call.samples), 0.0F, -0.1};
        });
        return std::pair{outcome.lines(), outcome.sizes(true)};
    };
    const auto decodedSamples = [](const RecognitionResult& line) { return std::stoul(line.text); };
    const auto cutSamples = [](const RecognitionResult& line) {
        return static_cast<std::size_t>(std::lround((line.end - line.start) * 16000));
    };
    const auto sentence = concatenated({test::silence(0.5), utterance("s05"), test::silence(1.5)});

    // Made 0.3 s into the pause, the try is the final's: nothing is decoded after the cut 1.2 s into it. (The
    // sentence's own pause after its first words also had a try.)
    const auto [early, earlyCalls] = collect(sentence, 0.3);
    ASSERT_EQ(early.size(), 1U);
    EXPECT_EQ(earlyCalls.back(), decodedSamples(early[0]));
    EXPECT_GT(cutSamples(early[0]), decodedSamples(early[0]) + 16000 / 2);
    // Off, the final decodes the whole utterance once it is cut.
    const auto [late, lateCalls] = collect(sentence, 0.0);
    ASSERT_EQ(late.size(), 1U);
    EXPECT_EQ(decodedSamples(late[0]), cutSamples(late[0]));
    EXPECT_EQ(lateCalls.size(), 1U);

    // Speech that resumes after a try (a pause of about 0.45 s within the sentence) is decoded with it.
    const auto first = utterance("s05");
    const auto second = utterance("s09");
    const auto [resumed, resumedCalls] = collect(
        concatenated({test::silence(0.5), {first.begin(), first.end() - 2400}, second, test::silence(1.5)}), 0.3);
    ASSERT_EQ(resumed.size(), 1U);
    EXPECT_EQ(resumedCalls.back(), decodedSamples(resumed[0]));
    EXPECT_GT(decodedSamples(resumed[0]), first.size() - 2400 + second.size() - 16000);
}

TEST(WhisperStreamingRecognizer, EndOfInputSettlesTheUtteranceInProgressAndADecoderFailureFailsTheResults)
{
    const auto speech = utterance("s05");
    EXPECT_EQ(scripted({speech.begin(), speech.end() - 4800}, 0, {}).lines().size(), 1U);

    auto decoder = std::make_shared<ScriptedUtteranceDecoder>();
    decoder->failure = std::make_exception_ptr(TranscriberError::recognitionFailed("whisper_full -6"));
    WhisperStreamingRecognizer failing(decoder);
    const auto collected = run(failing, concatenated({speech, test::silence(1.0)}), 0);
    ASSERT_TRUE(collected.error);
    EXPECT_THROW(std::rethrow_exception(collected.error), TranscriberError);
}

TEST(WhisperStreamingRecognizer, CancelAbandonsDecodingAtOnce)
{
    auto decoder = std::make_shared<ScriptedUtteranceDecoder>();
    decoder->interimCost = 60s;
    decoder->finalCost = 60s;
    auto input = Channel<AnalyzerBuffer>::make();
    auto recognizer = std::make_unique<WhisperStreamingRecognizer>(decoder);
    recognizer->start(input);
    input->yield(AnalyzerBuffer{AnalyzerAudioFormat{}, concatenated({utterance("s05"), test::silence(1.0)})});
    ASSERT_TRUE(decoder->waitForCalls(1));
    recognizer->cancel();
    decoder->wake();
    EXPECT_FALSE(recognizer->results()->next());
    recognizer.reset();
    EXPECT_TRUE(decoder->calls().front().aborted);
    EXPECT_FALSE(input->yield(AnalyzerBuffer{})) << "later input is refused, not piled up";
}

// A real decoder that writes down every pass it was given and the text it gave back. Thread-safe.
class RecordingDecoder final : public UtteranceDecoder {
public:
    struct Call {
        Pass pass;
        std::string text;
        // Given up for more urgent work.
        bool abandoned = false;
    };

    explicit RecordingDecoder(std::unique_ptr<UtteranceDecoder> real) : m_real(std::move(real)) {}

    std::optional<DecodedUtterance> decode(std::span<const float> samples, const std::string& prompt, Pass pass,
                                           const std::function<bool()>& shouldAbort) override
    {
        auto decoded = m_real->decode(samples, prompt, pass, shouldAbort);
        m_lock.change([&] { m_calls.push_back({pass, decoded ? decoded->text : std::string{}, !decoded}); });
        return decoded;
    }

    std::vector<Call> calls() const { return m_lock.read(m_calls); }

private:
    std::unique_ptr<UtteranceDecoder> m_real;
    test::Locked m_lock;
    std::vector<Call> m_calls;
};

TEST(WhisperStreamingRecognizer, WithTwoModelsFinalsComeFromTheAccurateOneAndVolatileTextFromTheFastOne)
{
    // Two contexts over the base model's weights stand for the fast and the accurate model: each decoder is its own,
    // and what each gave back is recorded, so every line can be traced to the pass that wrote it.
    const auto fastModel = test::realSpeechModel();
    const auto accurateModel = test::realSpeechModel();
    if (!fastModel || !accurateModel) return;
    ASSERT_NE(fastModel.get(), accurateModel.get());
    WhisperStreamingRecognizer::Settings settings;
    const auto fast = std::make_shared<RecordingDecoder>(fastModel->makeDecoder("ja", settings.decoding));
    const auto accurate = std::make_shared<RecordingDecoder>(accurateModel->makeDecoder("ja", settings.decoding));
    WhisperStreamingRecognizer recognizer(fast, settings, nullptr, accurate);

    // The demo meeting's first sentences, fed at the pace they were spoken so refreshes come while each is spoken. On
    // a busy machine finals can take every moment between sentences: 1.6, 2.0 and 2.4 s in, while the first sentence
    // is spoken, the feeding waits until the fast model has shown its first text.
    auto audio = test::readSpeechFile(test::sourceDir() / "samples" / "ja-sample.flac");
    audio.resize(std::min<std::size_t>(audio.size(), 16000 * 9));
    const auto results = run(recognizer, audio, 1.0, nullptr, [](std::size_t sent, const TextWait& textShown) {
                             if (sent >= 27200 && sent <= 40000 && sent % 6400 == 1600)
                                 textShown(std::chrono::seconds(30));
                         }).results;

    const auto fastCalls = fast->calls();
    const auto accurateCalls = accurate->calls();
    ASSERT_FALSE(accurateCalls.empty());
    ASSERT_TRUE(std::any_of(fastCalls.begin(), fastCalls.end(), [](const auto& call) { return !call.abandoned; }))
        << fastCalls.size() << " refreshes, all given up";
    for (const auto& call : fastCalls)
        EXPECT_EQ(call.pass, Pass::interim) << call.text;
    for (const auto& call : accurateCalls)
        EXPECT_NE(call.pass, Pass::interim) << call.text;
    const auto wrote = [](const std::vector<RecordingDecoder::Call>& calls, const std::string& text) {
        return std::any_of(calls.begin(), calls.end(), [&](const auto& call) {
            return !call.text.empty() && text.find(call.text) != std::string::npos;
        });
    };
    std::size_t lines = 0;
    std::size_t fastTextsShown = 0;
    std::string seen;
    for (const auto& call : fastCalls)
        seen += "[fast] " + call.text + "\n";
    for (const auto& result : results) {
        seen += std::string(result.isFinal ? "[final] " : "[shown] ") + result.text + "\n";
        if (result.isFinal) {
            ++lines;
            EXPECT_TRUE(std::any_of(accurateCalls.begin(), accurateCalls.end(),
                                    [&](const auto& call) { return call.text.find(result.text) != std::string::npos; }))
                << "final not from the accurate model: " << result.text;
        } else if (wrote(fastCalls, result.text)) {
            // The refresh's text, after the text of a final on hold when there is one.
            ++fastTextsShown;
        }
    }
    EXPECT_GE(lines, 2U);
    EXPECT_GE(fastTextsShown, 1U) << seen;
}

} // namespace
} // namespace tc
