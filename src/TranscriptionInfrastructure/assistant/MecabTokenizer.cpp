#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace tc {

namespace {

// Words so common in speech, or so typical of questions, that they tell no line apart.
constexpr std::array<std::string_view, 37> kStopWords{
    "する",   "ある",   "いる",   "なる",   "れる",   "られる", "できる", "思う",     "言う",       "おる",
    "くる",   "いく",   "こと",   "もの",   "よう",   "ない",   "いい",   "よい",     "そう",       "ちょっと",
    "まあ",   "ええ",   "はい",   "あの",   "いくら", "どう",   "なぜ",   "どうして", "どれくらい", "どのくらい",
    "いかが", "どんな", "くらい", "ぐらい", "何",     "何で",   "いう"};

// ASCII punctuation, which the dictionary tags as nouns.
bool isPunctuation(std::string_view surface)
{
    return std::all_of(surface.begin(), surface.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80 && std::ispunct(static_cast<unsigned char>(c));
    });
}

// Part of a compound noun ("発売" + "日", "研究" + "室").
bool joinsCompound(const std::vector<std::string_view>& feature)
{
    return feature.size() >= 2 && feature[0] == "名詞" && feature[1] != "非自立" && feature[1] != "代名詞";
}

bool carriesMeaning(const std::vector<std::string_view>& feature)
{
    if (feature.size() < 2) return true; // an unknown word: most likely a name
    const auto pos = feature[0];
    const auto detail = feature[1];
    if (pos == "名詞") return detail != "非自立" && detail != "代名詞" && detail != "接尾";
    if (pos == "動詞" || pos == "形容詞") return detail != "非自立" && detail != "接尾";
    return pos == "副詞";
}

} // namespace

std::optional<std::vector<std::string>> MecabTokenizer::contentWords(std::string_view text)
{
    auto found = words(text);
    if (!found) return std::nullopt;
    std::vector<std::string> texts;
    texts.reserve(found->size());
    for (auto& word : *found)
        texts.push_back(std::move(word.text));
    return texts;
}

std::optional<std::vector<MecabTokenizer::Word>> MecabTokenizer::words(std::string_view text)
{
    std::vector<Word> words;
    // The dictionary splits compounds that a question names whole; the whole compound is a word as well.
    std::string compound;
    int parts = 0;
    const auto endCompound = [&] {
        if (parts > 1) words.push_back(Word{compound});
        compound.clear();
        parts = 0;
    };
    const bool read = m_tagger.forEachWord(text, [&](const MecabTagger::Word& word) {
        const auto& feature = word.feature;
        if (isPunctuation(word.surface)) {
            endCompound();
            return;
        }
        const std::string_view base = feature.size() > 6 && feature[6] != "*" ? feature[6] : word.surface;
        const bool stopWord = std::find(kStopWords.begin(), kStopWords.end(), base) != kStopWords.end();
        // A suffix ends a compound but never opens one: in "何人参加" the counter belongs to the dropped "何".
        const bool opensWithSuffix = parts == 0 && feature.size() > 1 && feature[1] == "接尾";
        if (!stopWord && !opensWithSuffix && (joinsCompound(feature) || word.unknown)) {
            compound += word.surface;
            ++parts;
        } else {
            endCompound();
        }
        if (stopWord || (!word.unknown && !carriesMeaning(feature))) return;
        if (feature.size() > 0 && feature[0] == "記号") return;
        words.push_back(
            Word{std::string(base), feature.size() > 0 && (feature[0] == "動詞" || feature[0] == "形容詞")});
        // Organisations count as places: a question asks "where" of a company or a hall as of a town.
        if (feature.size() > 2 && feature[0] == "名詞" && feature[1] == "固有名詞") {
            if (feature[2] == "人名") words.push_back(Word{std::string(kPersonName)});
            if (feature[2] == "地域" || feature[2] == "組織") words.push_back(Word{std::string(kPlaceName)});
        }
    });
    if (!read) return std::nullopt;
    endCompound();
    return words;
}

} // namespace tc
