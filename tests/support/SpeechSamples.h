#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tc::test {

// One turn of data/speech/conversation.tsv.
struct SpeechTurn {
    std::string id;
    double start = 0;
    double end = 0;
    std::string text;
};

// The first channel of an audio file at its own rate; fails the calling test (empty result) when unreadable.
std::vector<float> readSpeechFile(const std::filesystem::path& file, double* sampleRate = nullptr);
// The turns of conversation.tsv in order.
std::vector<SpeechTurn> conversationTurns();
// Samples of digital silence at 16 kHz.
std::vector<float> silence(double seconds);
// Samples at 16 kHz of a made-up tune: notes and two-note chords of a major scale with two overtones, each struck and
// fading, back to back, the same for a given seed.
std::vector<float> musicTones(double seconds, unsigned seed = 1);

} // namespace tc::test
