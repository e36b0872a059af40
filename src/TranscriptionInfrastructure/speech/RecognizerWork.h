#pragma once

#include <cstddef>
#include <string>
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
    // The pause at the end of a final's samples.
    std::size_t pauseSamples = 0;

    // `held`, whose text was heldText, and the utterance that continues it as one work: the rest's kind, index and
    // end, over the audio of both.
    static RecognizerWork joined(RecognizerWork held, std::string heldText, RecognizerWork rest);
    // The parts of a joined work, each as it was on its own.
    RecognizerWork heldPart() const;
    RecognizerWork rest() const;
};

} // namespace tc
