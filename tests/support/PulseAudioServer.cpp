#include "support/PulseAudioServer.h"
#include "support/ShellCommand.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

#ifdef TC_HAS_GTEST
#include <gtest/gtest.h>
#endif

namespace tc::test {

namespace {

// A module argument naming the device as people see it; the description may hold spaces.
std::string describedAs(const char* key, const std::string& description)
{
    return description.empty() ? std::string()
                               : " " + std::string(key) + "=\"device.description='" + description + "'\"";
}

std::string pipeSourceModule(const PulseAudioServer::PipeSource& source, const std::filesystem::path& dir)
{
    return "module-pipe-source source_name=" + source.name + " file=" + (dir / (source.name + ".fifo")).string() +
           " format=float32le rate=" + std::to_string(source.rate) + " channels=" + std::to_string(source.channels) +
           describedAs("source_properties", source.description);
}

std::string nullSinkModule(const PulseAudioServer::NullSink& sink)
{
    return "module-null-sink sink_name=" + sink.name + " rate=" + std::to_string(sink.rate) +
           " channels=" + std::to_string(sink.channels) + describedAs("sink_properties", sink.description);
}

// Whether the running test has failed so far; outside a test, whether any test has. The benchmarks build this file
// without the test framework: they have no test to fail.
bool testFailed()
{
#ifdef TC_HAS_GTEST
    const auto* unit = ::testing::UnitTest::GetInstance();
    if (const auto* test = unit->current_test_info()) return test->result()->Failed();
    return unit->Failed();
#else
    return false;
#endif
}

} // namespace

PulseAudioServer::PulseAudioServer() : PulseAudioServer(Options{}) {}

PulseAudioServer::PulseAudioServer(Options options) : m_options(std::move(options))
{
    start();
}

PulseAudioServer::~PulseAudioServer()
{
    kill();
    for (const auto& [name, value] : m_savedEnvironment)
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    std::error_code ignored;
    // A failure the server may have caused can only be read afterwards from its log.
    if (!m_dir.empty() && testFailed()) {
        const auto kept = m_dir.string() + "-server.log";
        std::error_code moved;
        std::filesystem::rename(m_dir / "server.log", kept, moved);
        if (!moved) std::cerr << "The sound server's log is kept in " << kept << "\n";
    }
    std::filesystem::remove_all(m_dir, ignored);
}

void PulseAudioServer::start()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tc-pulse-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        m_error = "cannot make a runtime directory";
        return;
    }
    m_dir = pattern;

    for (const char* name : {"XDG_RUNTIME_DIR", "PULSE_SERVER", "PULSE_COOKIE", "PULSE_RUNTIME_PATH"}) {
        const char* value = std::getenv(name);
        m_savedEnvironment.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (m_dir / "pulse").c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + (m_dir / "pulse" / "native").string()).c_str(), 1);
    setenv("PULSE_COOKIE", (m_dir / "cookie").c_str(), 1);
    launch();
}

bool PulseAudioServer::restart()
{
    if (m_dir.empty()) return false;
    kill();
    // A killed server leaves its pipes and pid file behind; the pipe sources refuse to load over them.
    std::error_code ignored;
    for (const auto& source : m_options.pipeSources)
        std::filesystem::remove(m_dir / (source.name + ".fifo"), ignored);
    std::filesystem::remove(m_dir / "pulse" / "pid", ignored);
    m_error.clear();
    launch();
    return isRunning();
}

void PulseAudioServer::launch()
{
    std::string command =
        "HOME=" + shellQuoted(m_dir.string()) +
        " pulseaudio --daemonize=yes -n --exit-idle-time=-1 --disable-shm=yes --use-pid-file=yes" +
        " --log-level=info --log-time=yes --log-target=" + shellQuoted("file:" + (m_dir / "server.log").string()) +
        " -L module-native-protocol-unix";
    std::vector<std::string> modules;
    if (!m_options.sinkName.empty()) modules.push_back(nullSinkModule({m_options.sinkName, m_options.sinkDescription}));
    for (const auto& sink : m_options.extraSinks)
        modules.push_back(nullSinkModule(sink));
    for (const auto& source : m_options.pipeSources)
        modules.push_back(pipeSourceModule(source, m_dir));
    for (const auto& module : modules)
        command += " -L " + shellQuoted(module);
    // The daemonizing parent returns once the server is ready (or has failed).
    const int status = runShellCommand(command + " >/dev/null 2>&1");
    std::ifstream pidFile(m_dir / "pulse" / "pid");
    pid_t pid = 0;
    if (status != 0 || !(pidFile >> pid) || pid <= 0) {
        m_error =
            "pulseaudio did not start (status " + std::to_string(status) + "), see " + (m_dir / "server.log").string();
        return;
    }
    m_pid = pid;
    if (!m_options.pipeSources.empty()) pactl("set-default-source " + m_options.pipeSources.front().name);
    if (!m_options.sinkName.empty()) pactl("set-default-sink " + m_options.sinkName);
}

bool PulseAudioServer::addPipeSource(const PipeSource& source)
{
    return pactl("load-module " + pipeSourceModule(source, m_dir)) == 0;
}

void PulseAudioServer::writeToSource(const std::string& source, std::span<const float> samples) const
{
    const auto path = m_dir / (source + ".fifo");
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    const auto* bytes = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size_bytes();
    while (left > 0) {
        const auto written = ::write(fd, bytes, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            // A source nobody records stops reading; a test must not hang on it.
            pollfd writable{fd, POLLOUT, 0};
            if (errno == EAGAIN && poll(&writable, 1, 5000) > 0) continue;
            break;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    ::close(fd);
}

bool PulseAudioServer::play(std::span<const float> samples, int rate, int channels, const std::string& sink) const
{
    return runShellCommand("pacat --playback --raw --latency-msec=20 --format=float32le --rate=" +
                               std::to_string(rate) + " --channels=" + std::to_string(channels) +
                               " --device=" + shellQuoted(sink.empty() ? m_options.sinkName : sink),
                           nullptr, samples) == 0;
}

bool PulseAudioServer::unloadDevice(const std::string& name) const
{
    std::string listing;
    if (runShellCommand("pactl list short modules 2>/dev/null", &listing) != 0) return false;
    // One module a line: index, module name, arguments.
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const bool makesIt = line.find("sink_name=" + name + " ") != std::string::npos ||
                             line.find("source_name=" + name + " ") != std::string::npos;
        if (makesIt) return pactl("unload-module " + line.substr(0, line.find('\t'))) == 0;
    }
    return false;
}

int PulseAudioServer::pactl(const std::string& arguments) const
{
    return runShellCommand("pactl " + arguments + " >/dev/null 2>&1");
}

void PulseAudioServer::kill()
{
    if (m_pid <= 0) return;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    ::kill(m_pid, SIGKILL);
    if (pidfd >= 0) {
        // Readable once the process has exited.
        pollfd gone{pidfd, POLLIN, 0};
        while (poll(&gone, 1, 5000) < 0 && errno == EINTR) {
        }
        ::close(pidfd);
    }
    m_pid = 0;
}

} // namespace tc::test
