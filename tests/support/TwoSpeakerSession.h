#pragma once

#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/SpeakerLabel.h"
#include "support/EvaluationSet.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tc::test {

class PulseAudioServer;

// A line of a live session as the window would keep it.
struct AttributedLine {
    std::string text;
    double start = 0;
    double end = 0;
    std::optional<SpeakerLabel> speaker;
};

// How well the lines' speakers match the turns they came from. Only lines over a turn are scored; over turns of
// both sides (talking at once) 重複 or the side that spoke more is right. A named line's text names its turn: their
// median gives offset (session clock minus the recording's) and its growth drift; one is in step when it lies within
// 1 s of where its neighbours put the turns. A turn is covered when a scored line lies over it.
struct AttributionScore {
    int lines = 0, scored = 0, correct = 0, bothSides = 0, overlapLabels = 0, turnsCovered = 0;
    double offset = 0, drift = 0;
    int namedLines = 0, namedLinesInStep = 0;
    std::vector<std::string> misses;
};

// Runs the app's live session over both sources of the server: the default input, which this adds (a sink for the
// microphone track and a source remapped from its monitor), and the monitor of the default sink. Once both deliver,
// the two tracks are played, one to each sink, block by block in one loop paced by the playback, both mono at this
// rate after leadSeconds of silence and followed by silence past lastSpeechEnd. Then stops the session, waits for
// the lines the recognizer still owes however far behind it is, and returns the non-blank lines. Throws when it
// cannot set up or play into the server.
std::vector<AttributedLine> runTwoSpeakerSession(const PulseAudioServer& server,
                                                 std::shared_ptr<Transcriber> transcriber,
                                                 std::span<const float> microphone, std::span<const float> system,
                                                 int rate, double leadSeconds, double lastSpeechEnd);

// Places each line on the turns its span covers by at least minimumCover seconds and scores its speaker.
AttributionScore scoreAttribution(const std::vector<SpeechTurn>& turns, const std::vector<AttributedLine>& lines,
                                  double minimumCover = 0.3);

} // namespace tc::test
