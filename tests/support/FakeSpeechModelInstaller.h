#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace tc::test {

// An installer over a list of entries whose install runs on its own thread like the real one: it reports
// half the bytes at once, then waits until the test calls finish() (the entry becomes installed) or until
// cancel() (done with "キャンセルしました"). Thread-safe.
class FakeSpeechModelInstaller {
public:
    explicit FakeSpeechModelInstaller(std::vector<SpeechModelEntry> entries);
    ~FakeSpeechModelInstaller();

    std::vector<SpeechModelEntry> models() const;
    bool install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                 SpeechModelInstaller::DoneCallback onDone);
    void cancel();
    std::optional<std::string> remove(const std::string& name);
    // Lets the running install end successfully.
    void finish();

private:
    enum class Ending { none, finished, cancelled };

    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<SpeechModelEntry> m_entries;
    bool m_running = false;
    Ending m_ending = Ending::none;
    std::jthread m_thread;
};

} // namespace tc::test
