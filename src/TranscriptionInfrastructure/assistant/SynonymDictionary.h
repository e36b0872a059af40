#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tc {

// Groups of words that mean the same, read from the file scripts/install-synonyms writes (one group a line, words
// separated by tabs, "~" before a word that widens nothing itself). Read on the first look-up, not before: most
// sessions never ask. A missing or unreadable file is an empty dictionary. Thread-safe.
class SynonymDictionary {
public:
    explicit SynonymDictionary(std::filesystem::path file);

    // The other words of every group the word starts a widening in; none for an unknown word. Letters in lower case.
    std::vector<std::string_view> synonymsOf(std::string_view word) const;
    // Whether the file held any group (reads it if not yet read).
    bool empty() const;

private:
    void read() const;

    std::filesystem::path m_file;
    mutable std::once_flag m_read;
    mutable std::vector<std::string> m_words;
    // Each group as indexes into m_words.
    mutable std::vector<std::vector<std::uint32_t>> m_groups;
    // A word that starts a widening, to its groups.
    mutable std::unordered_map<std::string_view, std::vector<std::uint32_t>> m_triggers;
};

} // namespace tc
