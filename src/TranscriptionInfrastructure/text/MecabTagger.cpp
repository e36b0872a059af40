#include "TranscriptionInfrastructure/text/MecabTagger.h"

#include <mecab.h>

namespace tc {

namespace {

std::vector<std::string_view> fields(std::string_view feature)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (parts.size() < 7) {
        const auto comma = feature.find(',', start);
        parts.push_back(feature.substr(start, comma == std::string_view::npos ? feature.npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return parts;
}

} // namespace

void MecabTagger::TaggerDeleter::operator()(mecab_t* tagger) const
{
    mecab_destroy(tagger);
}

MecabTagger::MecabTagger() : m_tagger(mecab_new2("")) {}

MecabTagger::~MecabTagger() = default;

bool MecabTagger::forEachWord(std::string_view text, const std::function<void(const Word&)>& visit)
{
    if (!m_tagger) return false;
    std::lock_guard lock(m_mutex);
    const mecab_node_t* node = mecab_sparse_tonode2(m_tagger.get(), text.data(), text.size());
    if (!node) return false;
    for (; node; node = node->next) {
        if (node->stat == MECAB_BOS_NODE || node->stat == MECAB_EOS_NODE || node->length == 0) continue;
        visit(Word{std::string_view(node->surface, node->length),
                   fields(node->feature ? std::string_view(node->feature) : std::string_view()),
                   node->stat == MECAB_UNK_NODE});
    }
    return true;
}

} // namespace tc
