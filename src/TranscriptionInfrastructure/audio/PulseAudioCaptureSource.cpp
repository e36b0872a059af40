#include "TranscriptionInfrastructure/audio/PulseAudioCaptureSource.h"

#include "TranscriptionInfrastructure/audio/CaptureDeinterleaver.h"
#include "TranscriptionInfrastructure/audio/MonoMixdown.h"

#include <memory>
#include <utility>

namespace tc {

PulseAudioCaptureSource::PulseAudioCaptureSource(Direction direction, std::uint32_t bufferSize, std::string device,
                                                 FellBack fellBack, MakeError makeError)
    : m_direction(direction), m_bufferSize(bufferSize), m_device(std::move(device)), m_fellBack(std::move(fellBack)),
      m_makeError(std::move(makeError))
{}

PulseAudioCaptureSource::~PulseAudioCaptureSource()
{
    stop();
}

AudioFrameStream PulseAudioCaptureSource::start()
{
    const bool input = m_direction == Direction::input;
    const auto makeTap = [input](const AudioFrameStream& stream) -> PulseAudioCapture::Tap {
        return [stream, input, deinterleaver = std::make_shared<CaptureDeinterleaver>()](const CaptureBuffer& buffer) {
            AudioFrame frame;
            frame.samples = monoSamples(deinterleaver->view(buffer));
            frame.sampleRate = buffer.format.sampleRate;
            if (input) {
                frame.timestamp =
                    frame.sampleRate > 0 ? static_cast<double>(buffer.samplePosition) / frame.sampleRate : 0.0;
            } else if (frame.samples.empty()) {
                return;
            }
            stream->yield(std::move(frame));
        };
    };
    const auto device =
        input ? PulseAudioCapture::Device::defaultSource : PulseAudioCapture::Device::defaultSinkMonitor;
    const char* name = input ? "transcription-corvane microphone" : "transcription-corvane system audio";
    auto opened = m_capture.open(device, m_bufferSize, name, makeTap, m_makeError, m_device,
                                 [fellBack = m_fellBack](const std::string& chosen) {
                                     if (fellBack) fellBack(chosen);
                                 });
    // The port throws: the source's own error for why the capture could not begin.
    if (!opened) std::rethrow_exception(m_makeError(opened.error().kind()));
    return std::move(opened).value();
}

void PulseAudioCaptureSource::stop()
{
    m_capture.close();
}

} // namespace tc
