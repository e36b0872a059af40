#pragma once

#include "TranscriptionDomain/TranscriptSession.h"

#include <random>
#include <string>
#include <vector>

// The large history the history benchmarks share: 100 sessions of 1,000 lines of 40 Japanese characters.
namespace tc::bench {

inline constexpr int kSessions = 100;
inline constexpr int kLinesPerSession = 1000;
inline constexpr int kCharactersPerLine = 40;

// The characters the lines are drawn from: hiragana, katakana and common kanji, each three bytes in UTF-8.
inline std::vector<std::string> largeHistoryCharacters()
{
    std::vector<std::string> characters;
    for (char32_t c :
         std::u32string(U"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
                        U"アイウエオカキクケコサシスセソ会議資料確認予定今日明日来週説明質問回答問題対応")) {
        std::string utf8;
        utf8 += static_cast<char>(0xE0 | (c >> 12));
        utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
        characters.push_back(utf8);
    }
    return characters;
}

// The same history on every call (fixed seed), with fresh ids.
inline std::vector<TranscriptSession> makeLargeHistory()
{
    const auto characters = largeHistoryCharacters();
    std::mt19937 random(42);
    std::vector<TranscriptSession> sessions;
    double time = 786000000.123456789;
    for (int s = 0; s < kSessions; ++s) {
        TranscriptSession session{Uuid::random(), {}, time, std::nullopt};
        session.lines.reserve(kLinesPerSession);
        for (int l = 0; l < kLinesPerSession; ++l) {
            std::string text;
            for (int c = 0; c < kCharactersPerLine; ++c)
                text += characters[random() % characters.size()];
            time += 2.718281828;
            session.lines.push_back({Uuid::random(), std::move(text), time});
        }
        session.endedAt = time;
        sessions.push_back(std::move(session));
    }
    return sessions;
}

} // namespace tc::bench
