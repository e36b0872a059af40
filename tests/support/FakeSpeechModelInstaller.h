#pragma once

#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "support/Locked.h"

#include <filesystem>
#include <thread>

namespace tc::test {

// An installer over a list of entries whose install runs on its own thread like the real one: it reports
// half the bytes at once, then waits until the test calls finish() (the entry becomes installed), fail() or
// cancel() (done with "キャンセルしました"). installFrom() refuses, like the real one, an entry that is not
// verifiable. Thread-safe.
class FakeSpeechModelInstaller {
public:
    explicit FakeSpeechModelInstaller(std::vector<SpeechModelEntry> entries) : m_entries(std::move(entries)) {}

    std::vector<SpeechModelEntry> models() const { return m_lock.read(m_entries); }
    bool install(const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                 SpeechModelInstaller::DoneCallback onDone)
    {
        return start(name, "ダウンロード中", std::move(onProgress), std::move(onDone));
    }
    bool installFrom(const std::string& name, const std::filesystem::path& source,
                     SpeechModelInstaller::ProgressCallback onProgress, SpeechModelInstaller::DoneCallback onDone);
    void cancel() { end("キャンセルしました"); }
    std::optional<std::string> remove(const std::string& name);
    // Lets the running install end successfully.
    void finish() { end(std::nullopt); }
    // Lets the running install end with this reason, the entry left as it was.
    void fail(std::string reason) { end(std::move(reason)); }
    // The file the last installFrom() was given.
    std::filesystem::path lastSource() const { return m_lock.read(m_source); }

private:
    bool start(const std::string& name, std::string phase, SpeechModelInstaller::ProgressCallback onProgress,
               SpeechModelInstaller::DoneCallback onDone);
    void end(std::optional<std::string> error);
    SpeechModelEntry* entry(const std::string& name);

    Locked m_lock;
    std::vector<SpeechModelEntry> m_entries;
    bool m_running = false;
    // Set once the running install may end: with this error, or none.
    std::optional<std::optional<std::string>> m_ending;
    std::filesystem::path m_source;
    std::jthread m_thread;
};

} // namespace tc::test
