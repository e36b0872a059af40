#pragma once

#include "support/EvaluationSet.h"

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace tc::test {

// The first channel of an audio file at its own rate; fails the calling test (empty result) when unreadable.
std::vector<float> readSpeechFile(const std::filesystem::path& file, double* sampleRate = nullptr);
// data/speech/utterances/<id>.flac, a test sentence with 0.3 s of silence at both ends.
std::vector<float> testSentence(const std::string& id);
// The parts end to end.
std::vector<float> concatenated(std::initializer_list<std::vector<float>> parts);
// The turns of data/speech/conversation.tsv in order.
std::vector<SpeechTurn> conversationTurns();
// Samples of digital silence at 16 kHz.
std::vector<float> silence(double seconds);
// Samples at 16 kHz of a made-up tune: notes and two-note chords of a major scale with two overtones, each struck and
// fading, back to back, the same for a given seed.
std::vector<float> musicTones(double seconds, unsigned seed = 1);

} // namespace tc::test
