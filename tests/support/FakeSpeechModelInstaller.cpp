#include "support/FakeSpeechModelInstaller.h"

#include <algorithm>

namespace tc::test {

SpeechModelEntry* FakeSpeechModelInstaller::entry(const std::string& name)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.name == name; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool FakeSpeechModelInstaller::install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                                       SpeechModelInstaller::DoneCallback onDone)
{
    const auto total = m_lock.change([&]() -> std::optional<std::uint64_t> {
        if (m_running) return std::nullopt;
        m_running = true;
        m_finished.reset();
        return entry(name) ? entry(name)->bytes : 0;
    });
    if (!total) return false;
    m_thread = std::jthread([this, name, total = *total, onProgress, onDone](std::stop_token stop) {
        onProgress({total / 2, total, "ダウンロード中"});
        const bool finished = m_lock.waitThen(
            stop, [&] { return m_finished.has_value(); },
            [&] {
                m_running = false;
                if (m_finished.value_or(false) && entry(name)) entry(name)->installed = true;
                return m_finished.value_or(false);
            });
        onDone(finished ? std::nullopt : std::optional<std::string>("キャンセルしました"));
    });
    return true;
}

void FakeSpeechModelInstaller::end(bool finished)
{
    m_lock.change([&] {
        if (m_running && !m_finished) m_finished = finished;
    });
}

std::optional<std::string> FakeSpeechModelInstaller::remove(const std::string& name)
{
    return m_lock.change([&]() -> std::optional<std::string> {
        if (!entry(name)) return "そのモデルはありません。";
        entry(name)->installed = false;
        return std::nullopt;
    });
}

} // namespace tc::test
