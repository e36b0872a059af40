#include "support/LocalModelHost.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tc::test {

LocalModelHost::LocalModelHost(std::filesystem::path folder, std::optional<std::size_t> stallAfter)
{
    int out[2];
    if (::pipe(out) != 0) return;
    const std::string script = std::string(TC_SOURCE_DIR) + "/tests/support/model_host.py";
    std::vector<std::string> arguments{"python3", script, folder.string()};
    if (stallAfter) arguments.insert(arguments.end(), {"--stall-after", std::to_string(*stallAfter)});
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        ::execvp("python3", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (m_pid < 0) {
        ::close(out[0]);
        return;
    }
    // The first line is the port, written once the server listens.
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(out[0]);
    m_port = std::atoi(line.c_str());
}

LocalModelHost::~LocalModelHost()
{
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

std::string LocalModelHost::endpoint() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/mirror";
}

void LocalModelHost::release() const
{
    if (m_pid > 0) ::kill(m_pid, SIGUSR1);
}

} // namespace tc::test
