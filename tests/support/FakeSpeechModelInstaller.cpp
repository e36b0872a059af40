#include "support/FakeSpeechModelInstaller.h"

#include <algorithm>

namespace tc::test {

SpeechModelEntry* FakeSpeechModelInstaller::entry(const std::string& name)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.name == name; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool FakeSpeechModelInstaller::installFrom(const std::string& name, const std::filesystem::path& source,
                                           SpeechModelInstaller::ProgressCallback onProgress,
                                           SpeechModelInstaller::DoneCallback onDone)
{
    const bool verifiable = m_lock.change([&] {
        m_source = source;
        return entry(name) && entry(name)->verifiable;
    });
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
    const auto total = m_lock.change([&]() -> std::optional<std::uint64_t> {
        if (m_running) return std::nullopt;
        m_running = true;
        m_ending.reset();
        return entry(name) ? entry(name)->bytes : 0;
    });
    if (!total) return false;
    m_thread = std::jthread([this, name, total = *total, phase, onProgress, onDone](std::stop_token stop) {
        onProgress({total / 2, total, phase});
        const auto error = m_lock.waitThen(
            stop, [&] { return m_ending.has_value(); },
            [&] {
                m_running = false;
                const auto ending = m_ending.value_or("キャンセルしました");
                if (!ending && entry(name)) entry(name)->installed = true;
                return ending;
            });
        onDone(error);
    });
    return true;
}

void FakeSpeechModelInstaller::end(std::optional<std::string> error)
{
    m_lock.change([&] {
        if (m_running && !m_ending) m_ending = std::move(error);
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
