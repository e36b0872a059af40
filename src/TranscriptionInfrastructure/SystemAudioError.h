#pragma once

#include <stdexcept>

namespace tc {

// Why the computer's own sound could not be recorded; what() is the Japanese text shown to the user.
class SystemAudioError : public std::runtime_error {
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
