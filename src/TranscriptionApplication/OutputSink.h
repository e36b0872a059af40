#pragma once

#include "TranscriptionApplication/OutputEvent.h"

namespace tc {

// The receiver of session events.
class OutputSink {
public:
    virtual ~OutputSink() = default;

    // Receives one event and returns once it is handled, so events arrive in order. Never throws.
    virtual void emit(const OutputEvent& event) = 0;
};

} // namespace tc
