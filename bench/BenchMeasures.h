#pragma once

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

// Figures every benchmark takes the same way.
namespace tc::bench {

inline double clockSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU time of the whole process (user + system), in seconds.
inline double processCpuSeconds()
{
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}
// CPU time of the calling thread, in seconds.
inline double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

// Peak resident memory of the process so far, in MiB.
inline double peakMemoryMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A "Name:  value kB" figure of /proc/self/status (field given with its colon), in KiB; -1 when absent.
inline long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::char_traits<char>::length(field));
    return -1;
}

// Starts the peak resident memory (VmHWM) again from what is resident now, so the next peak read is that of the
// work that follows, not of a file read before it. False where the kernel does not offer it.
inline bool resetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The one-minute load average, so a reader can judge how busy the machine was; -1 when unknown.
inline double loadAverage()
{
    double load = -1;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

// Nearest-rank percentile (p in 0..1); NaN for no values.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

} // namespace tc::bench
