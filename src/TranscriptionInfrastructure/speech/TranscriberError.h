#pragma once

#include "TranscriptionApplication/PortFailure.h"

#include <string>

namespace tc {

// Why recognition could not run. what() is a Japanese sentence that says what to do next; the session runner
// appends it to its own notice. Only an engine failure while decoding is worth a restart: a missing or damaged
// model, an unknown language or format stay so until the user acts.
class TranscriberError : public PortFailure {
public:
    enum class Kind { unsupportedLocale, modelUnavailable, audioFormatUnavailable, recognitionFailed };

    // The locale (its plain identifier) is not among the recognizer's languages.
    static TranscriberError unsupportedLocale(std::string localeIdentifier);
    // The speech model is missing or damaged; the text says how to install it.
    static TranscriberError modelUnavailable(std::string text);
    // The recognizer names no audio format it accepts.
    static TranscriberError audioFormatUnavailable();
    // The engine failed while decoding; the detail is the engine's own word.
    static TranscriberError recognitionFailed(std::string detail);

    Kind kind() const { return m_kind; }
    // The locale identifier, the model text or the engine's detail; empty for audioFormatUnavailable.
    const std::string& payload() const { return m_payload; }

    friend bool operator==(const TranscriberError& a, const TranscriberError& b)
    {
        return a.m_kind == b.m_kind && a.m_payload == b.m_payload;
    }

private:
    TranscriberError(Kind kind, std::string payload);

    Kind m_kind;
    std::string m_payload;
};

} // namespace tc
