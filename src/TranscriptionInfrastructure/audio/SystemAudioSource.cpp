#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "TranscriptionInfrastructure/audio/SystemAudioError.h"

#include <algorithm>
#include <span>

namespace tc {

namespace {

SystemAudioError::Kind errorKind(PulseAudioError::Kind kind)
{
    switch (kind) {
    case PulseAudioError::Kind::serverUnavailable: return SystemAudioError::Kind::serverUnavailable;
    case PulseAudioError::Kind::noDevice: return SystemAudioError::Kind::noOutputDevice;
    case PulseAudioError::Kind::streamFailed: return SystemAudioError::Kind::captureFailed;
    }
    return SystemAudioError::Kind::captureFailed;
}

std::span<const float> floatsOf(const AudioBufferData& buffer)
{
    if (!buffer.data || buffer.dataByteSize < sizeof(float)) return {};
    return {static_cast<const float*>(buffer.data), buffer.dataByteSize / sizeof(float)};
}

// The server delivers one interleaved float buffer per block.
SystemAudioSampleBuffer sampleBuffer(const CaptureBuffer& captured)
{
    SystemAudioSampleBuffer buffer;
    buffer.description = AudioStreamDescription{captured.format.sampleRate, AudioStreamDescription::formatFlagIsFloat,
                                                captured.format.channels};
    buffer.buffers.push_back(AudioBufferData{captured.format.channels,
                                             static_cast<std::uint32_t>(captured.interleaved.size() * sizeof(float)),
                                             captured.interleaved.data()});
    return buffer;
}

} // namespace

SystemAudioSource::SystemAudioSource() = default;

SystemAudioSource::~SystemAudioSource()
{
    stop();
}

std::optional<AudioFrame> SystemAudioSource::audioFrame(const SystemAudioSampleBuffer& buffer)
{
    if (!buffer.description) return std::nullopt;
    const auto& description = *buffer.description;
    if ((description.formatFlags & AudioStreamDescription::formatFlagIsFloat) == 0) return std::nullopt;
    const std::uint32_t c = std::max<std::uint32_t>(description.channelsPerFrame, 1);
    if (buffer.bufferListStatus != 0) return std::nullopt;

    std::vector<float> mono;
    if (c < 2 || buffer.buffers.size() < c) {
        if (buffer.buffers.empty()) return std::nullopt;
        const auto& first = buffer.buffers.front();
        const auto floats = floatsOf(first);
        const std::uint32_t k = first.numberChannels;
        if (k < 2) {
            mono.assign(floats.begin(), floats.end());
        } else if (floats.size() >= k) {
            // A trailing partial frame is dropped.
            const std::size_t frames = floats.size() / k;
            mono.resize(frames);
            for (std::size_t i = 0; i < frames; ++i) {
                float sum = 0.0f;
                for (std::uint32_t j = 0; j < k; ++j)
                    sum += floats[i * k + j];
                mono[i] = sum / static_cast<float>(k);
            }
        }
    } else {
        std::vector<std::span<const float>> channels;
        std::size_t frames = SIZE_MAX;
        for (std::uint32_t j = 0; j < c; ++j) {
            channels.push_back(floatsOf(buffer.buffers[j]));
            frames = std::min(frames, channels.back().size());
        }
        mono.resize(frames);
        for (std::size_t i = 0; i < frames; ++i) {
            float sum = 0.0f;
            for (const auto& channel : channels)
                sum += channel[i];
            mono[i] = sum / static_cast<float>(c);
        }
    }
    if (mono.empty()) return std::nullopt;
    return AudioFrame{std::move(mono), description.sampleRate, 0.0};
}

AudioFrameStream SystemAudioSource::start()
{
    const auto makeTap = [](const AudioFrameStream& stream) -> PulseAudioCapture::Tap {
        return [stream](const CaptureBuffer& captured) {
            const auto buffer = sampleBuffer(captured);
            if (!buffer.isValid) return;
            if (auto frame = audioFrame(buffer)) stream->yield(std::move(*frame));
        };
    };
    try {
        return m_capture.open(
            PulseAudioCapture::Device::defaultSinkMonitor, 1024, "transcription-corvane system audio", makeTap,
            [](PulseAudioError::Kind why) { return std::make_exception_ptr(SystemAudioError(errorKind(why))); });
    } catch (const PulseAudioError& error) {
        throw SystemAudioError(errorKind(error.kind()));
    }
}

void SystemAudioSource::stop()
{
    m_capture.close();
}

} // namespace tc
