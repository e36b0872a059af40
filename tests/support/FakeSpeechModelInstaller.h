#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "support/Locked.h"

#include <thread>

namespace tc::test {

// An installer over a list of entries whose install runs on its own thread like the real one: it reports half the
// bytes at once, then waits until the test calls finish() (the entry becomes installed) or cancel() (done with
// "キャンセルしました"). Thread-safe.
class FakeSpeechModelInstaller {
public:
    explicit FakeSpeechModelInstaller(std::vector<SpeechModelEntry> entries) : m_entries(std::move(entries)) {}

    std::vector<SpeechModelEntry> models() const { return m_lock.read(m_entries); }
    // False while another install runs.
    bool install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                 SpeechModelInstaller::DoneCallback onDone);
    void cancel() { end(false); }
    std::optional<std::string> remove(const std::string& name);
    // Lets the running install end successfully.
    void finish() { end(true); }

private:
    void end(bool finished);
    SpeechModelEntry* entry(const std::string& name);

    Locked m_lock;
    std::vector<SpeechModelEntry> m_entries;
    bool m_running = false;
    // Set once the running install may end: whether it finished.
    std::optional<bool> m_finished;
    std::jthread m_thread;
};

} // namespace tc::test
