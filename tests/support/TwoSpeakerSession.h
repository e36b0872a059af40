#pragma once

#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/SpeakerLabel.h"
#include "support/EvaluationSet.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tc::test {

class PulseAudioServer;

// One turn of the evaluation set's two-speaker recording (scripts/make-eval-set).
using TwoSpeakerTurn = SpeechTurn;

// A line of a live session as the window would keep it.
struct AttributedLine {
    std::string text;
    double start = 0;
    double end = 0;
    std::optional<SpeakerLabel> speaker;
};

// How well the lines' speakers match the turns they came from.
struct AttributionScore {
    int lines = 0;
    // Lines that lie over at least one turn; the others (made up in silence) are not scored.
    int scored = 0;
    int correct = 0;
    // Scored lines over turns of both sides: talking at once, where 重複 or the side that spoke more is right.
    int bothSides = 0;
    // Lines labelled 重複.
    int overlapLabels = 0;
    // Session clock minus the recording's, from the lines whose text names their turn: the median, and how much it
    // grew from the first such line to the last (the feeding falling behind on a busy machine).
    double offset = 0;
    double drift = 0;
    // Lines whose text names their turn, and how many of them lie within 1 s of where their neighbours put the
    // turns: whether line times hold from line to line.
    int namedLines = 0;
    int namedLinesInStep = 0;
    std::vector<std::string> misses;
};

// The turns of twospeaker.tsv in order.
std::vector<TwoSpeakerTurn> readTwoSpeakerTurns(const std::filesystem::path& table);

// Runs the app's live session over both sources of the server (its pipe source "mic" and the monitor of its
// sink). Once both deliver, the microphone track is written into that pipe and the other track played to the sink,
// block by block in one loop paced by the playback, both mono at this rate after leadSeconds of silence. Ends once
// a line has arrived later than lastSpeechEnd on the tracks' time line (or 30 s after the tracks), and returns the
// non-blank lines. Throws when it cannot play into the server.
std::vector<AttributedLine> runTwoSpeakerSession(const PulseAudioServer& server,
                                                 std::shared_ptr<Transcriber> transcriber,
                                                 std::span<const float> microphone, std::span<const float> system,
                                                 int rate, double leadSeconds, double lastSpeechEnd);

// Places each line on the turns its span covers by at least minimumCover seconds and scores its speaker.
AttributionScore scoreAttribution(const std::vector<TwoSpeakerTurn>& turns, const std::vector<AttributedLine>& lines,
                                  double minimumCover = 0.3);

} // namespace tc::test
