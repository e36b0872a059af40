#include "TranscriptionInfrastructure/speech/EngineThreads.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace tc::EngineThreads {

namespace {

constexpr const char* kSpinRounds = "10000";

} // namespace

void restartWithPassiveWaiting()
{
    if (std::getenv("OMP_WAIT_POLICY")) return;
    // The arguments as the kernel holds them, so no caller has to pass argv down.
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < cmdline.size();) {
        const std::size_t end = cmdline.find('\0', start);
        arguments.push_back(cmdline.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (arguments.empty()) return;
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    setenv("OMP_WAIT_POLICY", "passive", 1);
    // A short spin before sleeping (libgomp's count of rounds): with none, each of the couple of hundred waits of one
    // decoded token went through the kernel, and a token cost 15 ms on a 2-core machine against 6 ms with it. Long
    // spins are what made a busy machine slow; the engines take one thread then (ProcessorLoadGauge).
    const bool spinSet = std::getenv("GOMP_SPINCOUNT") != nullptr;
    if (!spinSet) setenv("GOMP_SPINCOUNT", kSpinRounds, 1);
    execv("/proc/self/exe", argv.data());
    unsetenv("OMP_WAIT_POLICY");
    if (!spinSet) unsetenv("GOMP_SPINCOUNT");
}

} // namespace tc::EngineThreads
