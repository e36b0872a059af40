#include "support/ScriptedUtteranceDecoder.h"

#include <thread>

namespace tc::test {

std::optional<DecodedUtterance> ScriptedUtteranceDecoder::decode(std::span<const float> samples,
                                                                 const std::string& prompt, Pass pass,
                                                                 const std::function<bool()>& shouldAbort)
{
    if (failure) std::rethrow_exception(failure);
    const auto [index, finalNumber] = m_lock.change([&] {
        // A retry continues the final its first try began.
        m_finals += pass == Pass::final || pass == Pass::finalFirstTry ? 1 : 0;
        m_calls.push_back({pass, samples.size(), prompt, false});
        return std::pair{m_calls.size() - 1, m_finals};
    });
    // The port only lets the engine ask whether to abort, between the steps of its work (whisper.cpp's abort
    // callback), so this stand-in works in steps of 1 ms and asks after each.
    const auto cost = pass == Pass::interim      ? interimCost
                      : pass == Pass::finalRetry ? retryCost.value_or(finalCost)
                                                 : finalCost;
    const auto deadline = std::chrono::steady_clock::now() + cost;
    bool aborted = shouldAbort();
    for (auto now = std::chrono::steady_clock::now(); !aborted && now < deadline;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(1), deadline - now));
        aborted = shouldAbort();
    }
    const Call call = m_lock.change([&, index = index] {
        m_calls[index].aborted = aborted;
        return m_calls[index];
    });
    if (aborted) return std::nullopt;
    if (answer) return answer(call, finalNumber);
    const std::string text =
        pass == Pass::interim ? "途中" + std::to_string(finalNumber + 1) : "発話" + std::to_string(finalNumber);
    return DecodedUtterance{text, 0.0F, -0.1};
}

} // namespace tc::test
