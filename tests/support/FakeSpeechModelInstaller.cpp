#include "support/FakeSpeechModelInstaller.h"

#include <algorithm>

namespace tc::test {

FakeSpeechModelInstaller::FakeSpeechModelInstaller(std::vector<SpeechModelEntry> entries)
    : m_entries(std::move(entries))
{}

FakeSpeechModelInstaller::~FakeSpeechModelInstaller()
{
    m_thread.request_stop();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<SpeechModelEntry> FakeSpeechModelInstaller::models() const
{
    std::lock_guard lock(m_mutex);
    return m_entries;
}

bool FakeSpeechModelInstaller::install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                                       SpeechModelInstaller::DoneCallback onDone)
{
    std::unique_lock lock(m_mutex);
    if (m_running) return false;
    const auto entry = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.name == name; });
    const std::uint64_t total = entry == m_entries.end() ? 0 : entry->bytes;
    m_running = true;
    m_ending = Ending::none;
    lock.unlock();
    if (m_thread.joinable()) m_thread.join();
    m_thread = std::jthread([this, name, total, onProgress, onDone](std::stop_token stop) {
        onProgress({total / 2, total, "ダウンロード中"});
        std::unique_lock waiting(m_mutex);
        m_changed.wait(waiting, stop, [this] { return m_ending != Ending::none; });
        const bool finished = m_ending == Ending::finished;
        if (finished) {
            for (auto& installed : m_entries)
                if (installed.name == name) installed.installed = true;
        }
        m_running = false;
        waiting.unlock();
        onDone(finished ? std::nullopt : std::optional<std::string>("キャンセルしました"));
    });
    return true;
}

void FakeSpeechModelInstaller::cancel()
{
    std::lock_guard lock(m_mutex);
    if (m_running) m_ending = Ending::cancelled;
    m_changed.notify_all();
}

void FakeSpeechModelInstaller::finish()
{
    std::lock_guard lock(m_mutex);
    if (m_running) m_ending = Ending::finished;
    m_changed.notify_all();
}

std::optional<std::string> FakeSpeechModelInstaller::remove(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    for (auto& entry : m_entries) {
        if (entry.name != name) continue;
        entry.installed = false;
        return std::nullopt;
    }
    return std::string("そのモデルはありません。");
}

} // namespace tc::test
