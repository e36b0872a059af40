#pragma once

#include "TranscriptionInfrastructure/speech/RecognizerWork.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// What a final's decoded text becomes, in the order the live recognizer reports it: lines; a part that may be held
// for the rest of its sentence; or, when a held part and its rest decoded together lost one of them, the rest decoded
// alone before either settles. A final holding a sentence end where its utterance paused becomes two lines. Holding
// itself is the recognizer's to decide: it knows whether more audio can come. Not thread-safe: the decoding thread's.
class FinalSettler {
public:
    struct Settings {
        // A final whose text holds a sentence end at one of its utterance's inner pauses is divided there.
        bool divideAtInnerPauses = true;
        // The audio every utterance holds before its speech begins (the segmenter's pre-roll).
        std::size_t leadSamples = 0;
        double sampleRate = 16000;
    };

    struct Step {
        enum class Kind {
            // Report the text as the work's line (nothing, and its volatile text taken back, when empty).
            settle,
            // The same, unless the text ends mid-sentence and the recognizer holds it for the rest.
            settleOrHold,
            // Decode the work on its own and hand its text back here, before anything settles.
            decodeAlone,
        } kind = Kind::settle;
        RecognizerWork work;
        std::string text;
    };

    explicit FinalSettler(Settings settings) : m_settings(settings) {}

    // The steps for a final decoded to `text` (already accepted; empty when nothing was said). A joined final is
    // divided where its held part's sentence ends, if the text says so.
    std::vector<Step> steps(const RecognizerWork& work, std::string text);

private:
    void joinedSteps(const RecognizerWork& work, const std::string& text, std::vector<Step>& steps) const;
    // With the rest of a held part decoded on its own: one line from the joined text, or one for each part.
    void resolveUnsureJoin(const RecognizerWork& rest, const std::string& restText, std::vector<Step>& steps);
    // The work's text as one step of lastKind, or divided at its inner pauses: lines, the last of lastKind.
    void dividedSteps(const RecognizerWork& work, const std::string& text, Step::Kind lastKind,
                      std::vector<Step>& steps) const;

    const Settings m_settings;
    // A joined decoding that did not give back its held part's words, or added nothing to them: it either left a part
    // out or read the held one differently ("のひんびは" → "納品日は"), which the rest's own decoding tells apart.
    struct UnsureJoin {
        std::string joinedText;
        std::string heldText;
        // With its audio, so that a joined text which is held again can be decoded once more with what follows.
        RecognizerWork held;
    };
    std::optional<UnsureJoin> m_unsureJoin;
};

} // namespace tc
