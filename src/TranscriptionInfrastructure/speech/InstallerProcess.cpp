#include "TranscriptionInfrastructure/speech/InstallerProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tc {

namespace fs = std::filesystem;

namespace {

// How long a cancelled installer has to remove its temporary file before it is killed.
constexpr std::chrono::seconds kCancelGrace{10};
// The end of the installer's log kept for a failure it did not describe itself.
constexpr std::size_t kLogTail = 2000;

std::string systemError(int code)
{
    return std::strerror(code);
}

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
};

class SpawnAttributes {
public:
    SpawnAttributes() { ::posix_spawnattr_init(&m_attributes); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&m_attributes); }
    posix_spawnattr_t* get() { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes{};
};

} // namespace

InstallerProcess::InstallerProcess(pid_t pid, FileDescriptor out, FileDescriptor err)
    : m_pid(pid), m_out(std::move(out)), m_err(std::move(err))
{}

Expected<InstallerProcess, std::string> InstallerProcess::start(const fs::path& installer,
                                                                const fs::path& cacheDirectory,
                                                                const std::vector<std::string>& arguments)
{
    std::error_code error;
    if (!fs::is_regular_file(installer, error))
        return Unexpected{"モデルのインストーラー（" + installer.string() +
                          "）が見つかりません。scripts/install でアプリを入れ直してから、もう一度お試しください。"};
    const auto unstartable = [] {
        return Unexpected{"インストーラーを起動できません（" + systemError(errno) + "）。"};
    };
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return unstartable();
    FileDescriptor outRead(out[0]), outWrite(out[1]);
    if (::pipe2(err, O_CLOEXEC) != 0) return unstartable();
    FileDescriptor errRead(err[0]), errWrite(err[1]);

    SpawnActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1);
    ::posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2);
    // Nothing else of the app's (locks, sockets) lives on in the installer, even a descriptor opened without O_CLOEXEC.
    ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t defaults;
    ::sigemptyset(&none);
    ::sigemptyset(&defaults);
    for (int signal : {SIGTERM, SIGINT, SIGPIPE, SIGHUP})
        ::sigaddset(&defaults, signal);
    ::posix_spawnattr_setflags(attributes.get(),
                               POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawnattr_setpgroup(attributes.get(), 0);
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);

    // Run through python3 rather than the script's own line, so a copy without its executable bit still works.
    std::vector<std::string> words{"python3", installer.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        if (!std::string_view(*entry).starts_with("TC_CACHE_DIR=")) variables.emplace_back(*entry);
    }
    variables.push_back("TC_CACHE_DIR=" + cacheDirectory.string());
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    if (const int failed = ::posix_spawnp(&pid, "python3", actions.get(), attributes.get(), argv.data(), envp.data()))
        return Unexpected{"モデルのインストーラーを起動できません（python3: " + systemError(failed) +
                          "）。python3 をインストールしてから、もう一度お試しください。"};
    return InstallerProcess(pid, std::move(outRead), std::move(errRead));
}

std::string InstallerProcess::drain(const std::function<void(const std::string&)>& onLine, int wake)
{
    std::string pending;
    std::string log;
    // Set by a cancel: when the process group is killed if it has not closed its output by then.
    bool killPending = false;
    auto killAt = std::chrono::steady_clock::now();
    char buffer[8192];
    while (m_out || m_err) {
        pollfd fds[3] = {{m_out.get(), POLLIN, 0}, {m_err.get(), POLLIN, 0}, {wake, POLLIN, 0}};
        int timeout = -1;
        if (killPending) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(killAt - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, kCancelGrace.count() * 1000));
        }
        const int ready = ::poll(fds, 3, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && killPending) {
            ::kill(-m_pid, SIGKILL);
            killPending = false;
            continue;
        }
        if (fds[2].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wake, &count, sizeof count);
            if (!killPending) {
                killPending = true;
                killAt = std::chrono::steady_clock::now() + kCancelGrace;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            auto& fd = i == 0 ? m_out : m_err;
            const auto n = ::read(fd.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fd.reset();
                continue;
            }
            if (i == 1) {
                log.append(buffer, static_cast<std::size_t>(n));
                if (log.size() > 2 * kLogTail) log.erase(0, log.size() - kLogTail);
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
                onLine(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }
    if (!pending.empty()) onLine(pending);
    return log.size() > kLogTail ? log.substr(log.size() - kLogTail) : log;
}

void InstallerProcess::awaitExit() const
{
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
}

int InstallerProcess::reap() const
{
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace tc
