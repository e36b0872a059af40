#include "TranscriptionInfrastructure/speech/AnalyzerInputConverter.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "support/AudioSignals.h"
#include "support/ScriptedSpeechRecognitionEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <set>
#include <tuple>

namespace tc {
namespace {

using test::ScriptedRecognizer;
using test::ScriptedSpeechRecognitionEngine;

struct Drained {
    std::vector<TranscriptSegment> segments;
    std::exception_ptr error;
};

Drained drain(const SegmentStream& stream)
{
    Drained out;
    try {
        while (auto segment = stream->next())
            out.segments.push_back(std::move(*segment));
    } catch (...) {
        out.error = std::current_exception();
    }
    return out;
}

// The kind of a transcriber error (none for any other) and the message.
std::pair<std::optional<TranscriberError::Kind>, std::string> errorOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TranscriberError& e) {
        return {e.kind(), e.what()};
    } catch (const std::exception& e) {
        return {std::nullopt, e.what()};
    }
}

AudioFrame sine(std::size_t count, double rate, double timestamp = 0)
{
    return AudioFrame{test::sine(440.0, rate, count, 0.5F), rate, timestamp};
}

// A transcriber over the scripted engine, already transcribing frames that the test feeds, and the recognizer it
// built for them.
class RunningSpeechAnalyzerTranscriber : public ::testing::Test {
protected:
    void SetUp() override
    {
        segments = transcriber->transcribe(frames);
        recognizer = engine->waitForRecognizer();
        ASSERT_NE(recognizer, nullptr);
    }

    std::shared_ptr<ScriptedSpeechRecognitionEngine> engine = std::make_shared<ScriptedSpeechRecognitionEngine>();
    // The plain form matches the engine's BCP-47 "ja-JP".
    std::unique_ptr<SpeechAnalyzerTranscriber> transcriber =
        std::make_unique<SpeechAnalyzerTranscriber>("ja_JP", engine);
    std::shared_ptr<Channel<AudioFrame>> frames = Channel<AudioFrame>::make();
    SegmentStream segments;
    std::shared_ptr<ScriptedRecognizer> recognizer;
};

TEST(SpeechAnalyzerTranscriber, SetUpFailuresEndTheStreamWithTheirErrorBeforeAnyAudioIsRead)
{
    const auto recognizerWith = [](std::function<void(ScriptedRecognizer&)> change) {
        return [change] {
            auto recognizer = std::make_shared<ScriptedRecognizer>();
            change(*recognizer);
            return recognizer;
        };
    };
    using Kind = TranscriberError::Kind;
    const struct {
        const char* what;
        std::function<void(ScriptedSpeechRecognitionEngine&)> set;
        std::optional<Kind> kind; // none: the recognizer's own error passes unchanged
        const char* message;
    } cases[] = {
        // The locale must match the BCP-47 identifier exactly; the error names the plain one.
        {"only the language", [](auto& e) { e.locales = {"ja"}; }, Kind::unsupportedLocale, "ja_JP"},
        {"other spellings",
         [](auto& e) {
             e.locales = {"ja-jp", "JA-JP", "ja_JP"};
         },
         Kind::unsupportedLocale, "ja_JP"},
        {"no model",
         [](auto& e) { e.assetError = std::make_exception_ptr(TranscriberError::modelUnavailable("無い")); },
         Kind::modelUnavailable, "無い"},
        {"no audio format", [&](auto& e) { e.makeScripted = recognizerWith([](auto& r) { r.format = std::nullopt; }); },
         Kind::audioFormatUnavailable, ""},
        {"no start",
         [&](auto& e) {
             e.makeScripted = recognizerWith(
                 [](auto& r) { r.startError = std::make_exception_ptr(std::runtime_error("起動できません")); });
         },
         std::nullopt, "起動できません"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto engine = std::make_shared<ScriptedSpeechRecognitionEngine>();
        c.set(*engine);
        SpeechAnalyzerTranscriber transcriber("ja-JP", engine);
        auto frames = Channel<AudioFrame>::make();
        frames->yield(sine(1600, 16000));
        const auto drained = drain(transcriber.transcribe(frames));
        ASSERT_TRUE(drained.error);
        const auto [kind, message] = errorOf(drained.error);
        EXPECT_EQ(kind, c.kind);
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_FALSE(frames->isEnded());
        EXPECT_TRUE(kind != Kind::unsupportedLocale || engine->recognizers().empty()) << "none before the locale";
    }
}

TEST(SpeechAnalyzerTranscriber, TheConverterResamplesWithoutLossAndDropsWhatItCannotConvert)
{
    AnalyzerInputConverter same(AnalyzerAudioFormat{});
    const AudioFrame target = sine(1600, 16000);
    const auto passed = same.makeBuffer(target.samples, target.sampleRate);
    ASSERT_TRUE(passed);
    EXPECT_EQ(passed->samples, target.samples);
    EXPECT_FALSE(same.hasResampler());
    for (const double rate :
         {0.0, -16000.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(same.makeBuffer(target.samples, rate)) << rate;
    EXPECT_FALSE(same.makeBuffer({}, 16000));
    // Past an unsigned 32-bit frame count the frame is out of range.
    EXPECT_EQ(AnalyzerInputConverter::outputCapacity(std::size_t{1} << 31, 1000, 16000), std::nullopt);

    // A 48 kHz source cut into 100 ms frames: the whole stream comes out at 16 kHz, each frame within its
    // capacity, and the sine keeps its level (no gaps or clicks at frame edges).
    AnalyzerInputConverter converter(AnalyzerAudioFormat{});
    const AudioFrame whole = sine(48000, 48000);
    std::vector<float> out;
    for (std::size_t offset = 0; offset < whole.samples.size(); offset += 4800) {
        const auto buffer = converter.makeBuffer(std::span<const float>(whole.samples.data() + offset, 4800), 48000);
        ASSERT_TRUE(buffer);
        EXPECT_LE(buffer->samples.size(), *AnalyzerInputConverter::outputCapacity(4800, 48000, 16000));
        out.insert(out.end(), buffer->samples.begin(), buffer->samples.end());
    }
    if (const auto tail = converter.flush()) out.insert(out.end(), tail->samples.begin(), tail->samples.end());
    EXPECT_NEAR(static_cast<double>(out.size()), 16000.0, 2.0);
    EXPECT_NEAR(test::rms(std::span(out).subspan(1000, 14000)), 0.5 / std::sqrt(2.0), 0.01);

    // The transcriber skips such frames and goes on; each call builds a recognizer of its own.
    auto engine = std::make_shared<ScriptedSpeechRecognitionEngine>();
    SpeechAnalyzerTranscriber transcriber("ja-JP", engine);
    for (const bool bad : {true, false}) {
        auto frames = Channel<AudioFrame>::make();
        if (bad) frames->yield(AudioFrame{{}, 16000, 0});
        if (bad) frames->yield(AudioFrame{target.samples, 0, 0});
        frames->yield(sine(320, 16000));
        frames->finish();
        EXPECT_FALSE(drain(transcriber.transcribe(frames)).error);
        const auto buffers = engine->recognizers().back()->buffers();
        ASSERT_EQ(buffers.size(), 1U);
        EXPECT_EQ(buffers.front().samples.size(), 320U);
    }
    EXPECT_EQ(engine->recognizers().size(), 2U);
}

TEST_F(RunningSpeechAnalyzerTranscriber, ResultsBecomeSegmentsWithFreshIdsAndFiniteTimes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    recognizer->push({"こんに", 0.5, 1.5, false});
    recognizer->push({"こんにちは", 0.5, 2.0, true});
    recognizer->push({"", nan, 2.5, false});
    recognizer->push({" そして ", 3.0, inf, true});
    recognizer->closingResults = {{"おわり", 4.0, 5.0, true}};
    EXPECT_TRUE(engine->modules().front().volatileResults);
    frames->finish();
    const auto drained = drain(segments);
    EXPECT_FALSE(drained.error);
    // A non-finite bound becomes 0 on its own; texts pass unchanged, empty and untrimmed.
    using Row = std::tuple<std::string, bool, double, double>;
    std::vector<Row> rows;
    std::set<Uuid> ids;
    for (const auto& s : drained.segments) {
        rows.emplace_back(s.text, s.status == TranscriptSegment::Status::finalized, s.start, s.end);
        ids.insert(s.id);
    }
    EXPECT_EQ(rows, (std::vector<Row>{{"こんに", false, 0.5, 1.5},
                                      {"こんにちは", true, 0.5, 2.0},
                                      {"", false, 0.0, 2.5},
                                      {" そして ", true, 3.0, 0.0},
                                      {"おわり", true, 4.0, 5.0}}));
    EXPECT_EQ(ids.size(), rows.size()) << "a volatile result and its final never share an id";
}

TEST_F(RunningSpeechAnalyzerTranscriber, EndOfFramesFinalizesThenFinishes)
{
    recognizer->closingResults = {{"最後の発話", 0, 1, true}};
    // 48 kHz frames reach the recognizer as 16 kHz buffers, in order, with the timestamps ignored. A pause in the
    // frames is no end: the second half follows once the first has been taken.
    for (int i = 0; i < 10; ++i) {
        frames->yield(sine(4800, 48000, 100.0 - i));
        if (i == 4) {
            ASSERT_TRUE(recognizer->waitForFrames(7000));
        }
    }
    ASSERT_TRUE(recognizer->waitForFrames(15000)) << "the frames after the pause were not fed";
    EXPECT_FALSE(recognizer->isFinalized()) << "finalized before the frames ended";
    frames->finish();
    const auto drained = drain(segments);
    EXPECT_FALSE(drained.error);
    EXPECT_TRUE(recognizer->waitForFinalize());
    ASSERT_EQ(drained.segments.size(), 1U);
    EXPECT_EQ(drained.segments[0].text, "最後の発話");
    std::size_t frameCount = 0;
    for (const auto& buffer : recognizer->buffers()) {
        EXPECT_EQ(buffer.format.sampleRate, 16000);
        frameCount += buffer.samples.size();
    }
    EXPECT_NEAR(static_cast<double>(frameCount), 16000.0, 2.0);
}

TEST_F(RunningSpeechAnalyzerTranscriber, ResultFailureFailsTheStream)
{
    recognizer->push({"途中", 0, 1, false});
    recognizer->failResults(std::make_exception_ptr(TranscriberError::recognitionFailed("decode")));
    const auto drained = drain(segments);
    ASSERT_EQ(drained.segments.size(), 1U);
    EXPECT_EQ(errorOf(drained.error).first, TranscriberError::Kind::recognitionFailed);
    frames->finish();
}

TEST_F(RunningSpeechAnalyzerTranscriber, CancellingTheStreamStopsTheRecognitionAtOnce)
{
    recognizer->push({"一つ目", 0, 1, false});
    ASSERT_TRUE(segments->next());
    segments->cancel();
    EXPECT_TRUE(recognizer->waitForCancel()) << "the recognizer is told to stop";
    recognizer->push({"二つ目", 0, 1, false});
    EXPECT_FALSE(segments->next()) << "no segment after cancellation";
    // The frames never end: destroying the transcriber must not wait for them.
    frames->yield(sine(1600, 16000));
    transcriber.reset();
    EXPECT_TRUE(frames->isEnded()) << "the feeder gave up the frames when the transcriber went away";
}

TEST_F(RunningSpeechAnalyzerTranscriber, DestroyingTheTranscriberEndsTheStreamOfAWaitingReader)
{
    recognizer->push({"途中まで", 0, 1, false});
    ASSERT_TRUE(segments->next());
    std::promise<Drained> drained;
    // The reader waits without a stop token of its own, as a consumer that trusts the stream to end.
    std::jthread reader([&] { drained.set_value(drain(segments)); });
    transcriber.reset();
    // The bound only keeps a broken teardown from hanging the test.
    auto result = drained.get_future();
    const bool ended = result.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) segments->cancel();
    ASSERT_TRUE(ended) << "the reader was left waiting on a stream nobody will end";
    EXPECT_FALSE(result.get().error) << "the stream ends as at the end of the frames";
    EXPECT_TRUE(frames->isEnded());
}

} // namespace
} // namespace tc
