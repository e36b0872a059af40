#include "support/SpeechSamples.h"

#include "support/TestPaths.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace tc::test {

std::vector<float> readSpeechFile(const std::filesystem::path& file, double* sampleRate)
{
    SF_INFO info{};
    SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
    if (!handle) {
        ADD_FAILURE() << "cannot read " << file;
        return {};
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(handle, interleaved.data(), info.frames);
    sf_close(handle);
    std::vector<float> mono(static_cast<std::size_t>(read));
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = interleaved[i * static_cast<std::size_t>(info.channels)];
    if (sampleRate) *sampleRate = info.samplerate;
    return mono;
}

std::vector<float> testSentence(const std::string& id)
{
    return readSpeechFile(dataDir() / "speech" / "utterances" / (id + ".flac"));
}

std::vector<float> concatenated(std::initializer_list<std::vector<float>> parts)
{
    std::vector<float> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<SpeechTurn> conversationTurns()
{
    return readSpeechTable(dataDir() / "speech" / "conversation.tsv");
}

std::vector<float> silence(double seconds)
{
    return std::vector<float>(static_cast<std::size_t>(seconds * 16000), 0.0F);
}

std::vector<float> musicTones(double seconds, unsigned seed)
{
    constexpr std::array<double, 7> scale{220.0, 246.94, 277.18, 293.66, 329.63, 369.99, 415.30};
    constexpr std::array<double, 4> lengths{0.25, 0.35, 0.5, 0.7};
    std::mt19937 random(seed);
    std::vector<float> tune;
    const auto total = static_cast<std::size_t>(seconds * 16000);
    while (tune.size() < total) {
        const double length = lengths[random() % lengths.size()];
        const double first = scale[random() % scale.size()];
        const double second = random() % 2 ? scale[random() % scale.size()] : 0.0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(length * 16000) && tune.size() < total; ++i) {
            const double t = static_cast<double>(i) / 16000;
            double note = 0;
            for (const double pitch : {first, second}) {
                if (pitch == 0) continue;
                for (const auto& [harmonic, weight] : {std::pair{1.0, 1.0}, {2.0, 0.4}, {3.0, 0.2}})
                    note += weight * std::sin(2 * std::numbers::pi * pitch * harmonic * t);
            }
            const double envelope = std::min(1.0, t / 0.02) * std::exp(-t * 3.0);
            tune.push_back(static_cast<float>(0.05 * note * envelope));
        }
    }
    return tune;
}

} // namespace tc::test
