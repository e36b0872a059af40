// Saves and loads a large history (100 sessions of 1,000 lines of 40 Japanese characters) and records time and peak
// memory of each operation, next to the same work done through nlohmann::json's document tree as the baseline.
// Each measurement runs in a fresh child process so that one operation's heap does not hide another's peak.

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/files/FileReader.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "history/LargeHistory.h"

#include "support/HistoryJsonReference.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using tc::bench::kCharactersPerLine;
using tc::bench::kLinesPerSession;
using tc::bench::kSessions;
constexpr int kRuns = 5;

std::vector<tc::TranscriptSession> makeHistory()
{
    return tc::bench::makeLargeHistory();
}

// CPU time of this process: on a shared machine the wall time also counts the waits for a core.
double cpuMs()
{
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Resets the peak resident size to the current one, so the next VmHWM reading covers only what follows.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

int measure(const std::string& operation, const std::filesystem::path& file)
{
    std::vector<tc::TranscriptSession> sessions;
    if (operation.find("save") != std::string::npos) sessions = makeHistory();
    // As in the application, the store saving the history is the one that loaded it before, so the sessions of
    // the previous run count as removed rather than as another writer's.
    tc::TranscriptHistoryStore store(file);
    if (operation == "save") store.load();
    resetPeak();
    const long baseline = tc::bench::statusKiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuMs();

    std::size_t checksum = 0;
    if (operation == "save") {
        if (!store.save(sessions)) return 1;
    } else if (operation == "load") {
        checksum = store.load().size();
    } else if (operation == "baseline-save") {
        nlohmann::ordered_json json{{"version", 2}, {"sessions", sessions}};
        if (!tc::AtomicFileWriter::write(file, json.dump())) return 1;
    } else if (operation == "baseline-load") {
        const auto bytes = tc::FileReader::readAll(file);
        if (!bytes) return 1;
        checksum = nlohmann::json::parse(*bytes)["sessions"].get<std::vector<tc::TranscriptSession>>().size();
    }

    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuMs() - cpuStart;
    const long peak = tc::bench::statusKiB("VmHWM:");
    if (operation.find("load") != std::string::npos && checksum != kSessions) return 1;
    std::cout << ms << ' ' << cpu << ' ' << (peak - baseline) * 1024L << std::endl;
    return 0;
}

struct Figures {
    double medianMs = 0;
    double minMs = 0;
    double medianCpuMs = 0;
    long peakGrowthBytes = 0;
};

Figures runChild(const std::string& self, const std::string& operation, const std::filesystem::path& file)
{
    std::vector<double> times;
    std::vector<double> cpuTimes;
    Figures figures;
    for (int run = 0; run < kRuns; ++run) {
        const std::string command = "'" + self + "' --measure " + operation + " '" + file.string() + "'";
        FILE* pipe = ::popen(command.c_str(), "r");
        double ms = 0;
        double cpu = 0;
        long growth = 0;
        if (!pipe || std::fscanf(pipe, "%lf %lf %ld", &ms, &cpu, &growth) != 3) {
            std::cerr << operation << " failed\n";
            std::exit(1);
        }
        if (::pclose(pipe) != 0) {
            std::cerr << operation << " failed\n";
            std::exit(1);
        }
        times.push_back(ms);
        cpuTimes.push_back(cpu);
        figures.peakGrowthBytes = std::max(figures.peakGrowthBytes, growth);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    figures.medianCpuMs = cpuTimes[cpuTimes.size() / 2];
    figures.medianMs = times[times.size() / 2];
    figures.minMs = times.front();
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--measure") return measure(argv[2], argv[3]);

    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string pattern = (std::filesystem::temp_directory_path() / "tc-history-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return 1;
    const std::filesystem::path folder = pattern;
    const auto ours = folder / "history.json";
    const auto theirs = folder / "baseline.json";

    // Save first: the load runs read the file it leaves.
    const auto save = runChild(self, "save", ours);
    const auto load = runChild(self, "load", ours);
    const auto baselineSave = runChild(self, "baseline-save", theirs);
    const auto baselineLoad = runChild(self, "baseline-load", theirs);
    const auto fileBytes = static_cast<long>(std::filesystem::file_size(ours));
    std::filesystem::remove_all(folder);

    const auto entry = [&](const Figures& f) {
        return nlohmann::ordered_json{
            {"median_ms", f.medianMs},
            {"min_ms", f.minMs},
            {"median_cpu_ms", f.medianCpuMs},
            {"peak_growth_bytes", f.peakGrowthBytes},
            {"peak_growth_per_file_size", static_cast<double>(f.peakGrowthBytes) / fileBytes}};
    };
    nlohmann::ordered_json results{
        {"benchmark", "history store"},
        {"sessions", kSessions},
        {"lines_per_session", kLinesPerSession},
        {"characters_per_line", kCharactersPerLine},
        {"runs_per_operation", kRuns},
        {"load_average_1min", tc::bench::loadAverage()},
        {"file_bytes", fileBytes},
        {"save", entry(save)},
        {"load", entry(load)},
        {"baseline_nlohmann_save", entry(baselineSave)},
        {"baseline_nlohmann_load", entry(baselineLoad)},
        {"save_speedup_over_baseline", baselineSave.medianMs / save.medianMs},
        {"load_speedup_over_baseline", baselineLoad.medianMs / load.medianMs},
        {"target_ms", 150},
        {"target_peak_per_file_size", 4},
        {"save_within_target", save.medianMs <= 150 && save.peakGrowthBytes < 4 * fileBytes},
        {"load_within_target", load.medianMs <= 150 && load.peakGrowthBytes < 4 * fileBytes},
    };
    const std::filesystem::path resultsFile = std::filesystem::path(TC_BENCH_RESULTS_DIR) / "history.json";
    std::filesystem::create_directories(resultsFile.parent_path());
    std::ofstream(resultsFile) << results.dump(2) << '\n';
    std::cout << results.dump(2) << std::endl;
    return 0;
}
