#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace tc::test {

// tests/support/model_host.py as a child process: a stand-in for the models' host on 127.0.0.1 that serves the
// files of a folder under the host's path layout (mirror/test/models/resolve/main/<file>), redirected, with the
// size and SHA-256 headers the host sends. Stopped and reaped by the destructor.
class LocalModelHost {
public:
    // Serves folder; with stallAfter, every body stalls after that many bytes until release().
    explicit LocalModelHost(std::filesystem::path folder, std::optional<std::size_t> stallAfter = std::nullopt);
    ~LocalModelHost();
    LocalModelHost(const LocalModelHost&) = delete;
    LocalModelHost& operator=(const LocalModelHost&) = delete;

    // Whether the server is listening.
    bool running() const { return m_port != 0; }
    // The value for HF_ENDPOINT: "http://127.0.0.1:<port>/mirror".
    std::string endpoint() const;
    // The catalogue "download" repo the server serves.
    static std::string repo() { return "test/models"; }
    // Lets stalled bodies go on.
    void release() const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace tc::test
