#include "support/AudioSignals.h"

#include <cmath>
#include <numbers>

namespace tc::test {

std::vector<float> sine(double frequency, double rate, std::size_t frames, float amplitude, int channels,
                        bool firstChannelOnly, std::size_t offset)
{
    const auto n = static_cast<std::size_t>(channels);
    std::vector<float> out(frames * n, 0.0f);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < (firstChannelOnly ? 1 : n); ++c)
            out[i * n + c] = amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * frequency *
                                                                     static_cast<double>(i + offset) / rate));
    return out;
}

std::vector<AudioFrame> drain(const AudioFrameStream& stream)
{
    std::vector<AudioFrame> frames;
    while (auto frame = stream->next())
        frames.push_back(std::move(*frame));
    return frames;
}

std::vector<float> joined(const std::vector<AudioFrame>& frames)
{
    std::vector<float> out;
    for (const auto& f : frames)
        out.insert(out.end(), f.samples.begin(), f.samples.end());
    return out;
}

double rms(std::span<const float> samples)
{
    double sum = 0;
    for (float s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

void addNoise(std::span<float> signal, std::span<const float> noise, double snrDb, double speechLevel)
{
    const double level = speechLevel > 0 ? speechLevel : rms(signal);
    const double gain = level / rms(noise) / std::pow(10.0, snrDb / 20.0);
    for (std::size_t i = 0; i < signal.size(); ++i)
        signal[i] += static_cast<float>(gain * noise[i % noise.size()]);
}

double amplitudeAt(std::span<const float> samples, double frequency, double rate)
{
    const double w = 2 * std::numbers::pi * frequency / rate;
    double s1 = 0, s2 = 0;
    for (float x : samples) {
        const double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 2 * std::sqrt(power) / static_cast<double>(samples.size());
}

} // namespace tc::test
