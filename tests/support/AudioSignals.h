#pragma once

#include "TranscriptionApplication/AudioSource.h"

#include <cstddef>
#include <span>
#include <vector>

namespace tc::test {

// Interleaved samples of a sine tone in every channel, or in the first only; offset continues the phase from that
// many frames in, so blocks made one after another join up.
std::vector<float> sine(double frequency, double rate, std::size_t frames, float amplitude, int channels = 1,
                        bool firstChannelOnly = false, std::size_t offset = 0);
// Every frame of a stream up to its end.
std::vector<AudioFrame> drain(const AudioFrameStream& stream);
// The frames' samples end to end.
std::vector<float> joined(const std::vector<AudioFrame>& frames);
double rms(std::span<const float> samples);
// Adds noise, repeated to the signal's length, snrDb under the speech level: the signal's own rms unless given.
void addNoise(std::span<float> signal, std::span<const float> noise, double snrDb, double speechLevel = 0);
// Amplitude of one frequency in a signal (Goertzel).
double amplitudeAt(std::span<const float> samples, double frequency, double rate);

} // namespace tc::test
