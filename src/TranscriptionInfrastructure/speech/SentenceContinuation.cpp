#include "TranscriptionInfrastructure/speech/SentenceContinuation.h"

#include <vector>

namespace tc {

namespace {

bool continues(const std::vector<std::string_view>& word)
{
    if (word.size() < 7) return false;
    const auto pos = word[0], kind = word[1], form = word[5], base = word[6];
    // Not "って", which ends sentences in talk ("彼も来るって").
    if (pos == "助詞") return (kind == "格助詞" && word[2] != "連語") || kind == "連体化";
    // "…をください" is tagged so too, and ends a request.
    return pos == "動詞" && form.starts_with("連用") && base != "くださる" && base != "下さる";
}

} // namespace

bool SentenceContinuation::goesOnAfter(std::string_view text)
{
    // Judged within the visit: the views end with it.
    bool lastContinues = false;
    const bool read = m_tagger.forEachWord(text, [&](const MecabTagger::Word& word) {
        if (!word.feature.empty() && word.feature[0] != "記号") lastContinues = continues(word.feature);
    });
    return read && lastContinues;
}

} // namespace tc
