#include "TranscriptionInfrastructure/speech/WhisperContext.h"
#include "TranscriptionInfrastructure/speech/WhisperStreamingRecognizer.h"
#include "support/Locked.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <span>
#include <thread>

namespace tc {
namespace {

using Pass = UtteranceDecoder::Pass;

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

bool anyContains(const std::vector<RecordingDecoder::Call>& calls, const std::string& text)
{
    return std::any_of(calls.begin(), calls.end(),
                       [&](const auto& call) { return call.text.find(text) != std::string::npos; });
}

TEST(TwoPassRecognition, FinalsComeFromTheAccurateModelAndVolatileTextFromTheFastOne)
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
    // a busy machine finals can take every moment between sentences: in the first sentence the feeding waits, until
    // the fast model has shown its first text.
    auto audio = test::readSpeechFile(test::sourceDir() / "samples" / "ja-sample.flac");
    audio.resize(std::min<std::size_t>(audio.size(), 16000 * 9));
    auto input = Channel<AnalyzerBuffer>::make();
    recognizer.start(input);
    test::Locked lock;
    std::vector<RecognitionResult> collected;
    std::jthread reader([&] {
        while (auto result = recognizer.results()->next())
            lock.change([&] { collected.push_back(*result); });
    });
    const auto textShown = [&] {
        return std::any_of(collected.begin(), collected.end(),
                           [](const auto& r) { return !r.isFinal && !r.isNotice && !r.text.empty(); });
    };
    const auto began = std::chrono::steady_clock::now();
    for (std::size_t offset = 0; offset < audio.size(); offset += 1600) {
        const auto part = std::span(audio).subspan(offset, std::min<std::size_t>(1600, audio.size() - offset));
        input->yield(AnalyzerBuffer{AnalyzerAudioFormat{}, {part.begin(), part.end()}});
        // 1.6, 2.0 and 2.4 s in: the first sentence is being spoken. A refresh comes after more audio, so the feeding
        // waits a while at each.
        if (offset >= 25600 && offset <= 38400 && offset % 6400 == 0) lock.waitFor(std::chrono::seconds(30), textShown);
        std::this_thread::sleep_until(began + std::chrono::duration<double>((offset + part.size()) / 16000.0));
    }
    input->finish();
    recognizer.finalizeAndFinishThroughEndOfInput();
    reader.join();
    const auto results = lock.read(collected);

    const auto fastCalls = fast->calls();
    const auto accurateCalls = accurate->calls();
    ASSERT_FALSE(accurateCalls.empty());
    ASSERT_TRUE(std::any_of(fastCalls.begin(), fastCalls.end(), [](const auto& call) { return !call.abandoned; }))
        << fastCalls.size() << " refreshes, all given up";
    for (const auto& call : fastCalls)
        EXPECT_EQ(call.pass, Pass::interim) << call.text;
    for (const auto& call : accurateCalls)
        EXPECT_NE(call.pass, Pass::interim) << call.text;

    std::size_t lines = 0;
    std::size_t fastTextsShown = 0;
    for (const auto& result : results) {
        if (result.isFinal) {
            ++lines;
            EXPECT_TRUE(anyContains(accurateCalls, result.text))
                << "final not from the accurate model: " << result.text;
        } else if (std::any_of(fastCalls.begin(), fastCalls.end(), [&](const auto& call) {
                       return !call.text.empty() && result.text.find(call.text) != std::string::npos;
                   })) {
            // The refresh's text, after the text of a final on hold when there is one.
            ++fastTextsShown;
        }
    }
    EXPECT_GE(lines, 2U);
    std::string seen;
    for (const auto& call : fastCalls)
        seen += "[fast] " + call.text + "\n";
    for (const auto& result : results)
        seen += std::string(result.isFinal ? "[final] " : "[shown] ") + result.text + "\n";
    EXPECT_GE(fastTextsShown, 1U) << seen;
}

} // namespace
} // namespace tc
