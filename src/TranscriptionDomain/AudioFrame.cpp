#include "TranscriptionDomain/AudioFrame.h"

namespace tc {

double AudioFrame::duration() const
{
    if (!(sampleRate > 0)) return 0;
    return static_cast<double>(samples.size()) / sampleRate;
}

} // namespace tc
