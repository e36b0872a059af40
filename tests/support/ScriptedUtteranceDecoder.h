#pragma once

#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"
#include "support/Locked.h"

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tc::test {

// A decoder that answers what the test scripts and takes as long as the test says, giving up when asked to
// abort like whisper.cpp does between its steps. Records every call. Thread-safe.
class ScriptedUtteranceDecoder final : public UtteranceDecoder {
public:
    struct Call {
        Pass pass = Pass::interim;
        std::size_t samples = 0;
        std::string prompt;
        bool aborted = false;
    };

    // The answer to a call; by default "発話N" for the N-th final and "途中N" for interims.
    std::function<DecodedUtterance(const Call& call, std::size_t finalNumber)> answer;
    std::chrono::milliseconds interimCost{0};
    std::chrono::milliseconds finalCost{0};
    // Pass::finalRetry; finalCost when unset.
    std::optional<std::chrono::milliseconds> retryCost;
    // Thrown by every decode when set.
    std::exception_ptr failure;

    std::optional<DecodedUtterance> decode(std::span<const float> samples, const std::string& prompt, Pass pass,
                                           const std::function<bool()>& shouldAbort) override;

    std::vector<Call> calls() const { return m_lock.read(m_calls); }
    // Waits (bounded) until this many calls have begun.
    bool waitForCalls(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return m_lock.waitFor(timeout, [&] { return m_calls.size() >= count; });
    }

private:
    Locked m_lock;
    std::vector<Call> m_calls;
    std::size_t m_finals = 0;
};

} // namespace tc::test
