#pragma once

#include <stdexcept>

namespace tc {

// Why the microphone could not be recorded; what() is the Japanese text shown to the user.
class MicrophoneError : public std::runtime_error {
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
