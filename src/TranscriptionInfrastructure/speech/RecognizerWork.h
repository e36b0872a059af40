#pragma once

#include "TranscriptionInfrastructure/speech/UtteranceSegmenter.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tc {

// One decoding the live recognizer has to do, or one result it has to report, with the audio and times it is about.
// A final that continues a sentence held at a comma carries both parts: the held part first, then its rest.
struct RecognizerWork {
    enum class Kind { none, interim, early, final, retry, clear, settle } kind = Kind::none;
    std::vector<float> samples;
    // The held text this final continues; it stands if the whole decodes to nothing.
    std::string heldText;
    // Where the held part ends in samples, and where the utterance that continues it began.
    std::size_t heldSamples = 0;
    double heldEnd = 0;
    double restStart = 0;
    double start = 0;
    double end = 0;
    std::size_t index = 0;
    // The pause at the end of a final's samples, and those inside them.
    std::size_t pauseSamples = 0;
    std::vector<InnerPause> innerPauses;

    // The final of a cut utterance.
    static RecognizerWork finalOf(SegmentedUtterance utterance);
    // `held`, whose text was heldText, and the utterance that continues it as one work: the rest's kind, index and
    // end, over the audio of both.
    static RecognizerWork joined(RecognizerWork held, std::string heldText, RecognizerWork rest);
    // The parts of a joined work, each as it was on its own.
    RecognizerWork heldPart() const;
    RecognizerWork rest() const;

    // A final's text as two lines, and where its audio divides between them.
    struct Division {
        std::string first;
        std::string second;
        std::size_t sample = 0;
    };
    // Where `text`, decoded from this work (not a joined one), divides at a sentence end that one of the inner pauses
    // stands for: the sentence end whose count of characters before it is nearest to the pause's share of the speech
    // (which begins after `leadSamples`), within a fifth of the text, with 8 characters or more on either side.
    // Nothing when no pause and sentence end meet.
    std::optional<Division> divisionAtPause(std::string_view text, std::size_t leadSamples) const;
    // The work as two at `sample`: the first ends there, the second begins there and keeps the end pause.
    std::pair<RecognizerWork, RecognizerWork> dividedAt(std::size_t sample, double sampleRate) const;
};

} // namespace tc
