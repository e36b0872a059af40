#include "TranscriptionInfrastructure/speech/AnalyzerInputConverter.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tc {

namespace {

constexpr std::size_t kCapacityHeadroom = 1024;
constexpr std::size_t kMaxFrames = std::numeric_limits<std::uint32_t>::max();

} // namespace

AnalyzerInputConverter::AnalyzerInputConverter(AnalyzerAudioFormat target) : m_target(target) {}

std::optional<std::size_t> AnalyzerInputConverter::outputCapacity(std::size_t frames, double sourceRate,
                                                                  double targetRate)
{
    if (!(sourceRate > 0) || !std::isfinite(sourceRate) || !(targetRate > 0) || !std::isfinite(targetRate))
        return std::nullopt;
    const double exact = std::trunc(targetRate / sourceRate * static_cast<double>(frames));
    if (!(exact + static_cast<double>(kCapacityHeadroom) <= static_cast<double>(kMaxFrames))) return std::nullopt;
    return static_cast<std::size_t>(exact) + kCapacityHeadroom;
}

AnalyzerBuffer AnalyzerInputConverter::makeTargetBuffer(std::span<const float> mono) const
{
    AnalyzerBuffer buffer{m_target, {}};
    const std::size_t channels = m_target.channelCount;
    if (channels == 1) {
        buffer.samples.assign(mono.begin(), mono.end());
        return buffer;
    }
    buffer.samples.reserve(mono.size() * channels);
    for (float sample : mono)
        buffer.samples.insert(buffer.samples.end(), channels, sample);
    return buffer;
}

std::optional<AnalyzerBuffer> AnalyzerInputConverter::makeBuffer(std::span<const float> samples, double sampleRate)
{
    if (!std::isfinite(sampleRate) || sampleRate <= 0) return std::nullopt;
    if (samples.empty() || samples.size() > kMaxFrames) return std::nullopt;
    // Only float samples are produced; a recognizer asking for another layout gets nothing.
    if (m_target.commonFormat != AnalyzerAudioFormat::CommonFormat::float32 || m_target.channelCount == 0)
        return std::nullopt;
    if (sampleRate == m_target.sampleRate) return makeTargetBuffer(samples);

    const auto capacity = outputCapacity(samples.size(), sampleRate, m_target.sampleRate);
    if (!capacity) return std::nullopt;
    std::vector<float> converted;
    if (m_resampler && m_resampler->inputRate() != sampleRate) {
        // The source changed its rate: hand on the old stream's tail before starting a new one.
        std::vector<float> tail(kCapacityHeadroom);
        if (const auto written = m_resampler->flush(tail.data(), tail.size())) {
            tail.resize(*written);
            converted = std::move(tail);
        }
        m_resampler.reset();
    }
    if (!m_resampler) {
        m_resampler = SoxrResampler::make(sampleRate, m_target.sampleRate);
        if (!m_resampler) return std::nullopt;
    }
    const std::size_t offset = converted.size();
    converted.resize(offset + *capacity);
    const auto written = m_resampler->process(samples.data(), samples.size(), converted.data() + offset, *capacity);
    if (!written) return std::nullopt;
    converted.resize(offset + *written);
    if (converted.empty()) return std::nullopt;
    return makeTargetBuffer(converted);
}

std::optional<AnalyzerBuffer> AnalyzerInputConverter::flush()
{
    if (!m_resampler) return std::nullopt;
    std::vector<float> tail(kCapacityHeadroom);
    const auto written = m_resampler->flush(tail.data(), tail.size());
    m_resampler.reset();
    if (!written || *written == 0) return std::nullopt;
    tail.resize(*written);
    return makeTargetBuffer(tail);
}

} // namespace tc
