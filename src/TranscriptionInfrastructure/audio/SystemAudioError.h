#pragma once

#include "TranscriptionApplication/PortFailure.h"

namespace tc {

// Why the computer's own sound could not be recorded; what() is the Japanese text shown to the user. A missing server
// or device is waited for (it may come back); a refused stream is restarted as usual.
class SystemAudioError : public PortFailure {
public:
    enum class Kind {
        // No sound server answered.
        serverUnavailable,
        // There is no default output, or it has no monitor to record from.
        noOutputDevice,
        // The server refused the record stream.
        captureFailed,
    };

    explicit SystemAudioError(Kind kind);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace tc
