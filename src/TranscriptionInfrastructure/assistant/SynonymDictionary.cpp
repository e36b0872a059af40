#include "TranscriptionInfrastructure/assistant/SynonymDictionary.h"

#include <algorithm>
#include <fstream>

namespace tc {

SynonymDictionary::SynonymDictionary(std::filesystem::path file) : m_file(std::move(file)) {}

void SynonymDictionary::read() const
{
    std::call_once(m_read, [this] {
        std::ifstream stream(m_file);
        std::vector<std::vector<std::pair<std::string, bool>>> groups;
        std::size_t total = 0;
        for (std::string line; std::getline(stream, line);) {
            if (line.empty() || line.front() == '#') continue;
            auto& group = groups.emplace_back();
            for (std::size_t start = 0; start <= line.size();) {
                auto end = line.find('\t', start);
                if (end == line.npos) end = line.size();
                std::string word = line.substr(start, end - start);
                start = end + 1;
                const bool trigger = !word.starts_with('~');
                if (!trigger) word.erase(0, 1);
                // The answerer folds letters to lower case before it looks a word up.
                std::transform(word.begin(), word.end(), word.begin(),
                               [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
                if (!word.empty()) group.emplace_back(std::move(word), trigger);
            }
            if (group.size() < 2) groups.pop_back();
            else total += group.size();
        }
        // The views into m_words stay valid: it is filled once, at its final size.
        m_words.reserve(total);
        m_groups.reserve(groups.size());
        for (auto& group : groups) {
            const auto groupIndex = static_cast<std::uint32_t>(m_groups.size());
            auto& indexes = m_groups.emplace_back();
            for (auto& [word, trigger] : group) {
                indexes.push_back(static_cast<std::uint32_t>(m_words.size()));
                m_words.push_back(std::move(word));
                if (trigger) m_triggers[m_words.back()].push_back(groupIndex);
            }
        }
    });
}

std::vector<std::string_view> SynonymDictionary::synonymsOf(std::string_view word) const
{
    read();
    std::vector<std::string_view> found;
    const auto groups = m_triggers.find(word);
    if (groups == m_triggers.end()) return found;
    for (const auto group : groups->second)
        for (const auto index : m_groups[group])
            if (m_words[index] != word && std::find(found.begin(), found.end(), m_words[index]) == found.end())
                found.push_back(m_words[index]);
    return found;
}

bool SynonymDictionary::empty() const
{
    read();
    return m_groups.empty();
}

} // namespace tc
