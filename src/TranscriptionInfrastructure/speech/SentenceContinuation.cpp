#include "TranscriptionInfrastructure/speech/SentenceContinuation.h"

#include <mecab.h>

#include <string>
#include <vector>

namespace tc {

namespace {

// The dictionary's part of speech, its subclass, and so on (IPADIC: 7 fields before the readings).
std::vector<std::string_view> fields(std::string_view feature)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0; parts.size() < 7;) {
        const auto comma = feature.find(',', start);
        parts.push_back(feature.substr(start, comma == std::string_view::npos ? feature.npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    parts.resize(7);
    return parts;
}

bool continues(const std::vector<std::string_view>& word)
{
    const auto pos = word[0], kind = word[1], form = word[5], base = word[6];
    // Not "って", which ends sentences in talk ("明日は休みだって").
    if (pos == "助詞") return (kind == "格助詞" && word[2] != "連語") || kind == "連体化";
    // "…てください" is tagged so too, and ends a request.
    return pos == "動詞" && form.starts_with("連用") && base != "くださる" && base != "下さる";
}

} // namespace

void SentenceContinuation::TaggerDeleter::operator()(mecab_t* tagger) const
{
    mecab_destroy(tagger);
}

SentenceContinuation::SentenceContinuation() : m_tagger(mecab_new2("")) {}

SentenceContinuation::~SentenceContinuation() = default;

bool SentenceContinuation::goesOnAfter(std::string_view text)
{
    if (!m_tagger) return false;
    std::lock_guard lock(m_mutex);
    const mecab_node_t* node = mecab_sparse_tonode2(m_tagger.get(), text.data(), text.size());
    std::vector<std::string_view> last;
    for (; node; node = node->next) {
        if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE || node->length == 0 || !node->feature)
            continue;
        auto word = fields(node->feature);
        if (word[0] == "記号") continue;
        last = std::move(word);
    }
    return !last.empty() && continues(last);
}

} // namespace tc
