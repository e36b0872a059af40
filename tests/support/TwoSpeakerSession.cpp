#include "support/TwoSpeakerSession.h"

#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"
#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"

#include "support/Locked.h"
#include "support/PulseAudioServer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tc::test {

namespace {

// Keeps the finals.
class LineSink final : public OutputSink {
public:
    void emit(const OutputEvent& event) override
    {
        if (event.kind != OutputEvent::Kind::finalizedTranscript || isBlankText(event.text)) return;
        m_lock.change(
            [&] { m_lines.push_back({event.text, event.start.value_or(NAN), event.end.value_or(NAN), event.speaker}); });
    }
    std::vector<AttributedLine> lines() const { return m_lock.read(m_lines); }

private:
    Locked m_lock;
    std::vector<AttributedLine> m_lines;
};

// Characters of b found in order in a (the longest common subsequence), on normalized text.
std::size_t commonCharacters(const std::u32string& a, const std::u32string& b)
{
    std::vector<std::size_t> row(b.size() + 1, 0), next(b.size() + 1, 0);
    for (char32_t c : a) {
        for (std::size_t j = 1; j <= b.size(); ++j)
            next[j] = c == b[j - 1] ? row[j - 1] + 1 : std::max(row[j], next[j - 1]);
        std::swap(row, next);
    }
    return row[b.size()];
}

} // namespace

std::vector<AttributedLine> runTwoSpeakerSession(const PulseAudioServer& server,
                                                 std::shared_ptr<Transcriber> transcriber,
                                                 std::span<const float> microphone, std::span<const float> system,
                                                 int rate, double leadSeconds, double lastSpeechEnd)
{
    constexpr std::size_t block = 320;
    constexpr double captureLimitSeconds = 20;
    // Written after the last speech so that it has left the server's buffers before capture stops.
    constexpr double tailSeconds = 2;

    // Both tracks take the same path through the server: the microphone track is played into a sink of its own,
    // whose sound a remapped source offers as an input (a monitor is no microphone). Written into a pipe source
    // instead, it was buffered apart from the output track (the pipe's 64 KiB against the stream's few blocks), so
    // how the two lined up depended on how this loop was scheduled on a busy machine.
    const std::string voice = "two-speaker-voice", mic = "two-speaker-mic";
    for (const std::string& command :
         {"load-module module-null-sink sink_name=" + voice + " rate=" + std::to_string(rate) + " channels=1",
          "load-module module-remap-source master=" + voice + ".monitor source_name=" + mic,
          "set-default-source " + mic})
        if (server.pactl(command) != 0) throw std::runtime_error("the test server refused: pactl " + command);
    // Each stream holds a second, so that a loop kept waiting that long lets neither run dry (the tracks would come
    // late against the session's clock); once full, each write returns as its sink plays a block.
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(rate), 1};
    const auto bufferBytes = static_cast<std::uint32_t>(rate * sizeof(float));
    const pa_buffer_attr buffer{static_cast<std::uint32_t>(-1), bufferBytes, static_cast<std::uint32_t>(-1),
                                static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1)};
    const auto play = [&](const char* device, const char* name) {
        int error = 0;
        std::unique_ptr<pa_simple, decltype(&pa_simple_free)> stream(
            pa_simple_new(nullptr, "two-speaker test", PA_STREAM_PLAYBACK, device, name, &format, nullptr, &buffer,
                          &error),
            &pa_simple_free);
        if (!stream) throw std::runtime_error(std::string("cannot play into the test server: ") + pa_strerror(error));
        return stream;
    };
    const auto voiceTrack = play(voice.c_str(), "microphone track");
    const auto output = play(nullptr, "output track");

    std::atomic<int> capturing{0};
    std::atomic<bool> micUp{false}, systemUp{false};
    auto mixed = std::make_shared<MixedAudioSource>(
        std::vector<MixedAudioSource::Labeled>{{AudioSourceID::microphone, std::make_shared<MicrophoneAudioSource>()},
                                               {AudioSourceID::systemAudio, std::make_shared<SystemAudioSource>()}},
        nullptr, [&](AudioSourceID id, float) {
            auto& up = id == AudioSourceID::microphone ? micUp : systemUp;
            if (!up.exchange(true)) ++capturing;
        });
    auto sink = std::make_shared<LineSink>();
    std::vector<float> microphoneBlock(block), systemBlock(block);
    const auto write = [&] {
        int error = 0;
        return pa_simple_write(voiceTrack.get(), microphoneBlock.data(), block * sizeof(float), &error) == 0 &&
               pa_simple_write(output.get(), systemBlock.data(), block * sizeof(float), &error) == 0;
    };

    // Silence on both until both sources deliver, so that neither track starts before its capture does.
    RunTranscriptionSession session(mixed, std::move(transcriber), sink);
    std::jthread running([&](std::stop_token stop) { session.run(stop); });
    for (std::size_t written = 0; capturing < 2 && written < captureLimitSeconds * rate; written += block)
        if (!write()) break;

    const auto lead = static_cast<std::size_t>(leadSeconds * rate);
    const auto total = std::max(lead + std::max(microphone.size(), system.size()),
                                static_cast<std::size_t>((leadSeconds + lastSpeechEnd + tailSeconds) * rate));
    for (std::size_t offset = 0; offset < total; offset += block) {
        for (std::size_t i = 0; i < block; ++i) {
            const std::size_t at = offset + i;
            microphoneBlock[i] = at >= lead && at - lead < microphone.size() ? microphone[at - lead] : 0.0f;
            systemBlock[i] = at >= lead && at - lead < system.size() ? system[at - lead] : 0.0f;
        }
        if (!write()) break;
    }
    // Stopping the session ends the audio; the recognizer then settles what it still holds, however far behind a
    // busy machine left it, and run() returns once the last line is out. A stop request would drop those lines.
    session.stop();
    running.join();
    return sink->lines();
}

AttributionScore scoreAttribution(const std::vector<SpeechTurn>& turns, const std::vector<AttributedLine>& lines,
                                  double minimumCover)
{
    AttributionScore score;
    score.lines = static_cast<int>(lines.size());
    // The clock offset, from lines whose text is mostly one turn's: (line start, line start - turn start).
    std::vector<std::pair<double, double>> matched;
    std::vector<std::optional<double>> ownOffset(lines.size());
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const auto& line = lines[index];
        const auto said = RecognitionScoring::normalized(line.text);
        for (const auto& turn : turns) {
            const auto reference = RecognitionScoring::normalized(turn.text);
            if (reference.empty() || said.empty()) continue;
            const auto common = static_cast<double>(commonCharacters(said, reference));
            if (common >= 0.7 * static_cast<double>(reference.size()) &&
                common >= 0.7 * static_cast<double>(said.size())) {
                matched.emplace_back(line.start, line.start - turn.start);
                ownOffset[index] = line.start - turn.start;
            }
        }
    }
    if (matched.empty()) return score;
    // Where the feeding fell behind on a busy machine, both tracks came later than written: the offset near a line
    // is the median of the three matched lines nearest to it.
    const auto offsetNear = [&](double at) {
        auto nearest = matched;
        std::sort(nearest.begin(), nearest.end(),
                  [&](const auto& a, const auto& b) { return std::fabs(a.first - at) < std::fabs(b.first - at); });
        nearest.resize(std::min<std::size_t>(nearest.size(), 3));
        std::vector<double> values;
        for (const auto& [start, offset] : nearest)
            values.push_back(offset);
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::vector<double> all;
    for (const auto& [start, offset] : matched) {
        all.push_back(offset);
        ++score.namedLines;
        if (std::fabs(offset - offsetNear(start)) <= 1.0) ++score.namedLinesInStep;
    }
    std::sort(all.begin(), all.end());
    score.offset = all[all.size() / 2];
    score.drift = matched.back().second - matched.front().second;
    std::vector<bool> covered(turns.size(), false);

    for (std::size_t index = 0; index < lines.size(); ++index) {
        const auto& line = lines[index];
        if (line.speaker == SpeakerLabel::overlap) ++score.overlapLabels;
        // A line that names its turn is placed on it, unless it begins at another turn that the recognizer dropped
        // (its neighbours disagree); the others are placed by their neighbours.
        const double near = offsetNear(line.start);
        const double offset = ownOffset[index] && std::fabs(*ownOffset[index] - near) <= 1.0 ? *ownOffset[index] : near;
        const double start = line.start - offset, end = line.end - offset;
        double mine = 0, theirs = 0;
        for (std::size_t t = 0; t < turns.size(); ++t) {
            const double cover = std::min(end, turns[t].end) - std::max(start, turns[t].start);
            if (cover < minimumCover) continue;
            (turns[t].microphone ? mine : theirs) += cover;
            covered[t] = true;
        }
        if (mine == 0 && theirs == 0) continue;
        ++score.scored;
        const auto more = mine >= theirs ? SpeakerLabel::self : SpeakerLabel::other;
        bool right = line.speaker == more;
        if (mine > 0 && theirs > 0) {
            ++score.bothSides;
            right = right || line.speaker == SpeakerLabel::overlap;
        }
        if (right) {
            ++score.correct;
        } else {
            std::ostringstream miss;
            miss.precision(3);
            miss << (line.speaker ? speakerLabelText(*line.speaker) : "なし") << " (自分 " << mine << " s, 相手 "
                 << theirs << " s) at " << start << ": " << line.text;
            score.misses.push_back(miss.str());
        }
    }
    score.turnsCovered = static_cast<int>(std::count(covered.begin(), covered.end(), true));
    return score;
}

} // namespace tc::test
