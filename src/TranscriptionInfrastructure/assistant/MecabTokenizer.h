#pragma once

#include "TranscriptionInfrastructure/text/MecabTagger.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// Splits Japanese text into the words that carry meaning (nouns, verbs, adjectives, adverbs, in their
// dictionary form), with MeCab and the system dictionary. Thread-safe: one tagger behind a mutex.
class MecabTokenizer {
public:
    struct Word {
        std::string text;
        // A verb or an adjective: what is said of a topic, which listeners retell in words of their own.
        bool predicate = false;
    };

    // Whether MeCab and its dictionary could be opened.
    bool isAvailable() const { return m_tagger.isAvailable(); }
    // The content words of the text, in order, repeated as they occur; nothing when MeCab is unavailable. A proper
    // noun is followed by its class as a word of its own: kPersonName or kPlaceName.
    std::optional<std::vector<std::string>> contentWords(std::string_view text);
    // The same words, each marked whether it is a predicate.
    std::optional<std::vector<Word>> words(std::string_view text);

    // The class words, which no text can spell (a "#" is punctuation and never a word).
    static constexpr std::string_view kPersonName = "#人名";
    static constexpr std::string_view kPlaceName = "#地名";

private:
    MecabTagger m_tagger;
};

} // namespace tc
