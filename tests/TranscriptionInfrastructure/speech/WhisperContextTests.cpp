#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "support/SpeechSamples.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

TEST(WhisperContext, AFinalTheModelOnlyHumsAtComesOutEmpty)
{
    SpeechModelManager models;
    const auto lookup = models.locate(SpeechModelManager::defaultModelName());
    if (const auto* message = std::get_if<std::string>(&lookup)) {
        ADD_FAILURE() << "the speech model is missing (run scripts/setup): " << *message;
        return;
    }
    const auto context = WhisperContext::load(std::get<std::filesystem::path>(lookup));
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

} // namespace
} // namespace tc
