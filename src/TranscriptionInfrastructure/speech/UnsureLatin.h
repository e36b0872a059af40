#pragma once

#include <string>
#include <vector>

namespace tc {

// Whisper fills sounds it cannot place with English words ("結果です ruler"); a term it heard clearly ("API") keeps a
// high probability. This leaves out, by the decoder's own probabilities, the Latin-script words it was unsure of
// inside Japanese text.
namespace UnsureLatin {

// A piece of decoder output as it came: its bytes and the probability the decoder gave it.
struct TokenPiece {
    std::string text;
    double probability = 1;
};

// The mean probability a run of Latin pieces inside Japanese text needs to stay; 0 keeps every run.
struct Thresholds {
    // A run with a capital letter.
    double capitalized = 0;
    // A run without one.
    double lowercase = 0;
    // One word with a capital letter that opens the text or follows a space or punctuation, and that a particle
    // follows ("AIを", "会議は Zoomで"): a term used as a noun.
    double termBeforeParticle = 0;
};

// The pieces joined, without each run of pieces made of Latin letters (with spaces and apostrophes) whose mean
// probability is under its threshold, when the rest holds kana or kanji.
std::string joinedWithout(const std::vector<TokenPiece>& pieces, const Thresholds& thresholds);

} // namespace UnsureLatin

} // namespace tc
