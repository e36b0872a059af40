#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/files/FileDescriptor.h"

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tc {

// The model installer script as a child process: started in a process group of its own so that a cancel reaches
// what it runs (pip) too, its output read until it closes.
class InstallerProcess {
public:
    // Runs `python3 installer arguments…` with TC_CACHE_DIR set to cacheDirectory; a Japanese message when it cannot.
    static Expected<InstallerProcess, std::string> start(const std::filesystem::path& installer,
                                                         const std::filesystem::path& cacheDirectory,
                                                         const std::vector<std::string>& arguments);

    pid_t pid() const { return m_pid; }

    // Reads until both pipes close, each stdout line to onLine; returns the end of stderr. A signal on wake (an
    // eventfd) starts a grace period, after which the process group is killed.
    std::string drain(const std::function<void(const std::string&)>& onLine, int wake = -1);
    // Waits for the exit without reaping, so the process group cannot be reused while it may still be signalled.
    void awaitExit() const;
    // The exit status, or 128 + the signal that ended it; -1 when it cannot be told.
    int reap() const;

private:
    InstallerProcess(pid_t pid, FileDescriptor out, FileDescriptor err);

    pid_t m_pid = -1;
    FileDescriptor m_out;
    FileDescriptor m_err;
};

} // namespace tc
