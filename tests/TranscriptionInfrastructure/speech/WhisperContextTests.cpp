#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "support/AudioSignals.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include <string_view>

namespace tc {
namespace {

TEST(WhisperContext, AFinalTheModelOnlyHumsAtComesOutEmpty)
{
    const auto context = test::realSpeechModel();
    if (!context) return;
    // Short tunes: the greedy reading loops on a sound ("おぉぉぉぉ", "あんんんん"), and the fallback's sampling
    // writes sentences instead ("さあ、今、あなたは、あなたのことを知っているのか?"). Fresh decoders, as the
    // sampling carries state from one decoding to the next.
    const auto decode = [&](const std::vector<float>& audio, DecodingPolicy policy) {
        return context->makeDecoder("ja", policy)
            ->decode(audio, "", UtteranceDecoder::Pass::final, [] { return false; })
            ->text;
    };
    std::size_t madeUp = 0;
    for (unsigned seed : {1U, 4U}) {
        auto audio = test::musicTones(3.0, seed);
        const auto pause = test::silence(0.7);
        audio.insert(audio.end(), pause.begin(), pause.end());
        EXPECT_EQ(decode(audio, {}), "") << seed;
        // The greedy try alone, as the live recognizer runs it, already knows: no retry to wait for.
        const auto firstTry =
            context->makeDecoder("ja")->decode(audio, "", UtteranceDecoder::Pass::finalFirstTry, [] { return false; });
        EXPECT_EQ(firstTry->text, "") << seed;
        EXPECT_FALSE(firstTry->retryWanted) << seed;
        DecodingPolicy retried;
        retried.dropSoundLoops = false;
        if (!decode(audio, retried).empty()) ++madeUp;
    }
    EXPECT_GT(madeUp, 0U);
}

TEST(WhisperContext, ARefreshAfterSilenceReadsItsOwnAudio)
{
    const auto context = test::realSpeechModel();
    if (!context) return;
    // Room silence, then the first 0.3 s of a sentence, as the first refresh of an utterance has it. The engine's own
    // no-speech check took the silence's probability for the sentence's and emptied the sentence's text whenever its
    // tokens were unsure.
    const auto silence = test::readSpeechFile(test::dataDir() / "speech" / "silence.flac");
    const auto texts = [&](DecodingPolicy policy) {
        const auto decoder = context->makeDecoder("ja", policy);
        std::size_t read = 0;
        for (const char* id : {"s01", "s03", "s05", "s07", "s09", "s12"}) {
            auto start = test::testSentence(id);
            start.resize(9600);
            const auto quiet = decoder->decode(silence, "", UtteranceDecoder::Pass::interim, [] { return false; });
            EXPECT_GE(quiet->noSpeechProbability, 0.6F);
            if (!decoder->decode(start, "", UtteranceDecoder::Pass::interim, [] { return false; })->text.empty())
                ++read;
        }
        return read;
    };
    DecodingPolicy engineCheck;
    engineCheck.engineNoSpeechCheck = true;
    const std::size_t own = texts({});
    const std::size_t checked = texts(engineCheck);
    EXPECT_GT(own, checked) << own << " texts without the engine's check, " << checked << " with it";
}

TEST(WhisperContext, TheSameAudioReadsTheSameWhateverTheDecoderReadBefore)
{
    // A first refresh's 0.6 s, read before and after the decoder read whole sentences: with the engine's flash
    // attention the attention rows past a short context kept what the longer ones left there. Either attention may
    // be the one a processor decodes with.
    const auto read = [](UtteranceDecoder& decoder, const std::vector<float>& audio) {
        const auto decoded = decoder.decode(audio, "", UtteranceDecoder::Pass::interim, [] { return false; });
        return std::pair{decoded->text, decoded->averageLogProbability};
    };
    for (const auto attention : {EncoderAttention::flash, EncoderAttention::plain}) {
        const auto context = test::realSpeechModel(attention);
        if (!context) return;
        const auto decoder = context->makeDecoder("ja");
        for (const char* id : {"s01", "s05", "s09"}) {
            SCOPED_TRACE(std::string(id) + (attention == EncoderAttention::flash ? " flash" : " plain"));
            auto start = test::testSentence(id);
            const auto whole = start;
            start.resize(9600);
            const auto fresh = read(*decoder, start);
            read(*decoder, whole);
            EXPECT_EQ(read(*decoder, start), fresh);
        }
    }
}

TEST(WhisperContext, TheAttentionMeasuredFasterHereIsRememberedBesideTheModel)
{
    const auto model = test::realSpeechModelFile();
    if (!model) return;
    // The speed record is there already: only the attention is measured here.
    test::TemporaryDirectory models;
    const auto file = test::linkRealSpeechModel(models.path(), {model->filename().string()}, false).value().front();
    const auto record = models.path() / ".encoder-attention.json";
    const auto other = [](EncoderAttention attention) {
        return attention == EncoderAttention::flash ? EncoderAttention::plain : EncoderAttention::flash;
    };
    const auto write = [&](const std::string& text) { std::ofstream(record, std::ios::trunc) << text; };

    // Measured on first load, beside another machine's choice; the next load takes what was remembered.
    write(R"({"another processor": "flash"})");
    const auto measured = WhisperContext::load(file).value();
    const EncoderAttentionTrial trial(file, measured->threads());
    ASSERT_EQ(trial.remembered(), measured->attention());
    auto remembered = nlohmann::json::parse(test::readText(record));
    EXPECT_EQ(remembered.value("another processor", ""), "flash");
    remembered[trial.key()] = other(measured->attention()) == EncoderAttention::flash ? "flash" : "plain";
    write(remembered.dump());
    EXPECT_EQ(WhisperContext::load(file).value()->attention(), other(measured->attention()));

    // A damaged record is measured again.
    write(R"({"another processor": "plain", )");
    const auto again = WhisperContext::load(file).value();
    EXPECT_EQ(trial.remembered(), again->attention());
}

TEST(WhisperContext, SpeechInNoiseGetsNoBracketsNobodySaid)
{
    const auto context = test::realSpeechModel();
    if (!context) return;
    // Sentences under pink noise at 10 dB SNR, then a pause: allowed to, the model marks what it hears as sound or
    // quotes a sentence ("「さなかさん、今お時間よろしいです」"; live, "…10分ほど遅れます。(音楽)").
    const auto noise = test::readSpeechFile(test::dataDir() / "speech" / "noise.flac");
    const auto marked = [](std::string_view text) {
        for (const std::string_view mark : {"(", "（", "[", "【", "「", "『", "♪"})
            if (text.find(mark) != std::string_view::npos) return true;
        return false;
    };
    std::size_t markedFreely = 0;
    for (const char* id : {"s05", "s06"}) {
        auto audio = test::testSentence(id);
        test::addNoise(audio, noise, 10.0);
        const auto pause = test::silence(1.0);
        audio.insert(audio.end(), pause.begin(), pause.end());
        const auto decode = [&](bool suppress) {
            DecodingPolicy policy;
            policy.suppressNonSpeechTokens = suppress;
            return context->makeDecoder("ja", policy)
                ->decode(audio, "", UtteranceDecoder::Pass::final, [] { return false; })
                ->text;
        };
        const std::string barred = decode(DecodingPolicy{}.suppressNonSpeechTokens);
        EXPECT_FALSE(barred.empty()) << id;
        EXPECT_FALSE(marked(barred)) << id << ": " << barred;
        markedFreely += marked(decode(false)) ? 1 : 0;
    }
    EXPECT_GT(markedFreely, 0U);
}

} // namespace
} // namespace tc
