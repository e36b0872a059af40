#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

struct mecab_t;

namespace tc {

// One MeCab tagger with the system dictionary (IPADIC), behind a mutex: the words of Japanese text with their part of
// speech, for the questions' word index and the recognizer's reading of sentence ends.
class MecabTagger {
public:
    struct Word {
        std::string_view surface;
        // Part of speech, its three subclasses, conjugation type and form, and dictionary form, as far as the
        // dictionary gives them: "名詞,固有名詞,人名,姓,*,*,田中,タナカ,タナカ" split at its commas, up to 7 fields.
        std::vector<std::string_view> feature;
        // Not in the dictionary: most likely a name.
        bool unknown = false;
    };

    // Starts MeCab with the system dictionary; isAvailable() is false when it cannot.
    MecabTagger();
    ~MecabTagger();
    MecabTagger(const MecabTagger&) = delete;
    MecabTagger& operator=(const MecabTagger&) = delete;

    bool isAvailable() const { return m_tagger != nullptr; }
    // Calls visit with each word of the text, in order; the views last for the call only. False when MeCab is
    // unavailable or could not read the text.
    bool forEachWord(std::string_view text, const std::function<void(const Word&)>& visit);

private:
    struct TaggerDeleter {
        void operator()(mecab_t* tagger) const;
    };
    std::mutex m_mutex;
    std::unique_ptr<mecab_t, TaggerDeleter> m_tagger;
};

} // namespace tc
