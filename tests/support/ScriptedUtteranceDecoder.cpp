#include "support/ScriptedUtteranceDecoder.h"

#include <string>

namespace tc::test {

std::optional<DecodedUtterance> ScriptedUtteranceDecoder::decode(std::span<const float> samples,
                                                                 const std::string& prompt, Pass pass,
                                                                 const std::function<bool()>& shouldAbort)
{
    if (failure) std::rethrow_exception(failure);
    std::size_t index = 0;
    std::size_t finalNumber = 0;
    {
        std::lock_guard lock(m_mutex);
        if (pass == Pass::final) ++m_finals;
        finalNumber = m_finals;
        m_calls.push_back({pass, samples.size(), prompt, false});
        index = m_calls.size() - 1;
        m_changed.notify_all();
    }
    // The engine checks its abort callback between steps; so does this stand-in, every millisecond.
    const auto cost = pass == Pass::final ? finalCost : interimCost;
    const auto deadline = std::chrono::steady_clock::now() + cost;
    std::unique_lock lock(m_mutex);
    while (std::chrono::steady_clock::now() < deadline) {
        if (shouldAbort()) {
            m_calls[index].aborted = true;
            return std::nullopt;
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(1));
    }
    if (shouldAbort()) {
        m_calls[index].aborted = true;
        return std::nullopt;
    }
    const Call call = m_calls[index];
    lock.unlock();
    if (answer) return answer(call, finalNumber);
    const std::string text =
        pass == Pass::final ? "発話" + std::to_string(finalNumber) : "途中" + std::to_string(finalNumber + 1);
    return DecodedUtterance{text, 0.0F, -0.1};
}

std::vector<ScriptedUtteranceDecoder::Call> ScriptedUtteranceDecoder::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

bool ScriptedUtteranceDecoder::waitForCalls(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
}

} // namespace tc::test
