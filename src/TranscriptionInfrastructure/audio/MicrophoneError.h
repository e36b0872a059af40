#pragma once

#include "TranscriptionApplication/PortFailure.h"

namespace tc {

// Why the microphone could not be recorded; what() is the Japanese text shown to the user. A missing server
// or device is waited for (it may come back); a refused stream is restarted as usual.
class MicrophoneError : public PortFailure {
public:
    enum class Kind {
        // No sound server answered.
        serverUnavailable,
        // The server has no real input device (only monitors of outputs, or nothing).
        noInputDevice,
        // The server refused the record stream.
        captureFailed,
    };

    explicit MicrophoneError(Kind kind);
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace tc
