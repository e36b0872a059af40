#pragma once

#include "TranscriptionInfrastructure/text/MecabTagger.h"

#include <string_view>

namespace tc {

// Tells, with MeCab and the system dictionary, whether a text stops on a word a sentence goes on after: a case
// particle ("クライアントから", "新しいシステムへ"), the の that ties two nouns ("プロジェクトの") or a verb in its
// continuative form ("課題を洗い出し"). A speaker's pause leaves such words at the end of a final, and the decoder
// often leaves out the comma. Their look-alikes that end sentences in talk are told apart by the dictionary and not
// counted: "…ますから", "…けど", "そうなの", "念のため". Thread-safe.
class SentenceContinuation {
public:
    // Whether MeCab and its dictionary could be opened.
    bool isAvailable() const { return m_tagger.isAvailable(); }
    // False when MeCab is unavailable. A full stop after the last word is looked past: at a long pause the decoder
    // sometimes closes the part with one ("予算の見直しと。").
    bool goesOnAfter(std::string_view text);

private:
    MecabTagger m_tagger;
};

} // namespace tc
