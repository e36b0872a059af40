#pragma once

#include "TranscriptionInfrastructure/audio/MonoMixdown.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <vector>

namespace tc {

// Splits interleaved capture blocks into channels in buffers it keeps, so steady capture allocates only the
// frame. Not thread-safe: one per capture tap.
class CaptureDeinterleaver {
public:
    // The block's channels; valid until the next call. A trailing partial frame is dropped.
    PcmBufferView view(const CaptureBuffer& buffer);

private:
    std::vector<std::vector<float>> m_channels;
    std::vector<const float*> m_pointers;
};

} // namespace tc
