#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace tc::test {

// An installer over a list of entries whose install runs on its own thread like the real one: it reports
// half the bytes at once, then waits until the test calls finish() (the entry becomes installed), fail() or
// cancel() (done with "キャンセルしました"). installFrom() refuses, like the real one, an entry that is not
// verifiable. Thread-safe.
class FakeSpeechModelInstaller {
public:
    explicit FakeSpeechModelInstaller(std::vector<SpeechModelEntry> entries);
    ~FakeSpeechModelInstaller();

    std::vector<SpeechModelEntry> models() const;
    bool install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                 SpeechModelInstaller::DoneCallback onDone);
    bool installFrom(const std::string& name, const std::filesystem::path& source,
                     SpeechModelInstaller::ProgressCallback onProgress, SpeechModelInstaller::DoneCallback onDone);
    void cancel();
    std::optional<std::string> remove(const std::string& name);
    // Lets the running install end successfully.
    void finish();
    // Lets the running install end with this reason, the entry left as it was.
    void fail(std::string reason);
    // The file the last installFrom() was given.
    std::filesystem::path lastSource() const;

private:
    enum class Ending { none, finished, failed, cancelled };

    bool start(const std::string& name, std::string phase, SpeechModelInstaller::ProgressCallback onProgress,
               SpeechModelInstaller::DoneCallback onDone);

    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::vector<SpeechModelEntry> m_entries;
    bool m_running = false;
    Ending m_ending = Ending::none;
    std::string m_failure;
    std::filesystem::path m_source;
    std::jthread m_thread;
};

} // namespace tc::test
