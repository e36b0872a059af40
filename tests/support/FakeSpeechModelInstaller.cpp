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
    return start(name, "ダウンロード中", std::move(onProgress), std::move(onDone));
}

bool FakeSpeechModelInstaller::installFrom(const std::string& name, const std::filesystem::path& source,
                                           SpeechModelInstaller::ProgressCallback onProgress,
                                           SpeechModelInstaller::DoneCallback onDone)
{
    bool verifiable = false;
    {
        std::lock_guard lock(m_mutex);
        m_source = source;
        const auto entry =
            std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.name == name; });
        verifiable = entry != m_entries.end() && entry->verifiable;
    }
    // On the caller's thread: the fake keeps its one thread for installs that run.
    if (!verifiable) {
        onDone(name + " には確かめられた公式のチェックサムがないため、インストールできません。");
        return true;
    }
    return start(name, "コピー中", std::move(onProgress), std::move(onDone));
}

bool FakeSpeechModelInstaller::start(const std::string& name, std::string phase,
                                     SpeechModelInstaller::ProgressCallback onProgress,
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
    m_thread = std::jthread([this, name, total, phase, onProgress, onDone](std::stop_token stop) {
        onProgress({total / 2, total, phase});
        std::unique_lock waiting(m_mutex);
        m_changed.wait(waiting, stop, [this] { return m_ending != Ending::none; });
        const bool finished = m_ending == Ending::finished;
        if (finished) {
            for (auto& installed : m_entries)
                if (installed.name == name) installed.installed = true;
        }
        m_running = false;
        const std::optional<std::string> error = finished ? std::nullopt
                                                 : m_ending == Ending::failed
                                                     ? std::optional(m_failure)
                                                     : std::optional<std::string>("キャンセルしました");
        waiting.unlock();
        onDone(error);
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

void FakeSpeechModelInstaller::fail(std::string reason)
{
    std::lock_guard lock(m_mutex);
    if (!m_running) return;
    m_ending = Ending::failed;
    m_failure = std::move(reason);
    m_changed.notify_all();
}

std::filesystem::path FakeSpeechModelInstaller::lastSource() const
{
    std::lock_guard lock(m_mutex);
    return m_source;
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
