// Speech recognition figures for each installed speech model: character error rate, real-time factor,
// first-volatile and final latency with the audio fed at real-time pace, and peak memory. Each model runs in a
// fresh child process so that one model's memory does not hide another's peak.
//
//   AsrBench [--models base,small]     all installed models (or those named); writes asr.json and asr.md
//   AsrBench --one NAME FILE           one model; writes its figures to FILE (used by the above)

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/RecognizedText.h"
#include "TranscriptionInfrastructure/SndfileDecoder.h"
#include "TranscriptionInfrastructure/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/SpeechModelManager.h"
#include "TranscriptionInfrastructure/WhisperSpeechRecognitionEngine.h"

#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrame = 1600;

struct Turn {
    double start = 0;
    double end = 0;
    std::string text;
};

struct Timed {
    tc::TranscriptSegment segment;
    // Seconds since the first frame was fed.
    double at = 0;
};

std::vector<Turn> readTurns()
{
    std::ifstream in(fs::path(TC_TEST_DATA_DIR) / "speech" / "conversation.tsv");
    std::vector<Turn> turns;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, start, end, text;
        if (!std::getline(fields, id, '\t') || !std::getline(fields, start, '\t') || !std::getline(fields, end, '\t'))
            continue;
        std::getline(fields, text);
        turns.push_back({std::stod(start), std::stod(end), text});
    }
    return turns;
}

// Feeds the audio in 100 ms frames, at real-time pace or all at once, and records each segment with its time.
std::vector<Timed> transcribe(tc::SpeechAnalyzerTranscriber& transcriber, const std::vector<float>& audio,
                              bool realTime, double& elapsed)
{
    auto frames = tc::Channel<tc::AudioFrame>::make();
    auto segments = transcriber.transcribe(frames);
    const auto began = Clock::now();
    std::jthread feeder([&] {
        for (std::size_t offset = 0; offset < audio.size(); offset += kFrame) {
            const std::size_t count = std::min(kFrame, audio.size() - offset);
            if (realTime) {
                // A frame is available once its last sample has been captured.
                std::this_thread::sleep_until(
                    began + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(static_cast<double>(offset + count) / 16000.0)));
            }
            tc::AudioFrame frame;
            frame.samples.assign(audio.begin() + static_cast<std::ptrdiff_t>(offset),
                                 audio.begin() + static_cast<std::ptrdiff_t>(offset + count));
            frame.sampleRate = 16000;
            frame.timestamp = static_cast<double>(offset) / 16000.0;
            frames->yield(std::move(frame));
        }
        frames->finish();
    });
    std::vector<Timed> timed;
    while (auto segment = segments->next())
        timed.push_back({*segment, std::chrono::duration<double>(Clock::now() - began).count()});
    elapsed = std::chrono::duration<double>(Clock::now() - began).count();
    return timed;
}

bool overlaps(const tc::TranscriptSegment& s, const Turn& t)
{
    return s.start < t.end && s.end > t.start;
}

nlohmann::json spread(const std::vector<double>& values)
{
    return {{"p50", tc::bench::percentile(values, 0.5)},
            {"p95", tc::bench::percentile(values, 0.95)},
            {"count", values.size()}};
}

int measureOne(const std::string& model, const fs::path& out)
{
    const auto decoded = tc::SndfileDecoder().decode(fs::path(TC_TEST_DATA_DIR) / "speech" / "conversation.flac");
    if (!std::holds_alternative<tc::DecodedAudio>(decoded)) {
        std::cerr << "cannot read conversation.flac\n";
        return 1;
    }
    const auto& audio = std::get<tc::DecodedAudio>(decoded).channels.front();
    const double duration = static_cast<double>(audio.size()) / 16000.0;
    const auto turns = readTurns();
    const double loadBefore = tc::bench::loadAverage();

    auto engine = std::make_shared<tc::WhisperSpeechRecognitionEngine>(model);
    tc::SpeechAnalyzerTranscriber transcriber("ja-JP", engine);

    // Live: the conversation at real-time pace, as from a microphone.
    double liveElapsed = 0;
    const auto live = transcribe(transcriber, audio, true, liveElapsed);
    std::vector<double> firstVolatile;
    std::vector<double> finalLatency;
    std::size_t missed = 0;
    for (const auto& turn : turns) {
        std::optional<double> firstText;
        std::optional<double> lastFinal;
        for (const auto& t : live) {
            if (!overlaps(t.segment, turn)) continue;
            if (!t.segment.isFinal() && !t.segment.text.empty() && !firstText) firstText = t.at;
            if (t.segment.isFinal()) lastFinal = t.at;
        }
        if (firstText) firstVolatile.push_back(*firstText - turn.start);
        if (lastFinal)
            finalLatency.push_back(*lastFinal - turn.end);
        else
            ++missed;
    }
    std::string reference;
    for (const auto& turn : turns)
        reference += turn.text;
    std::string liveText;
    std::vector<std::string> lines;
    for (const auto& t : live) {
        if (!t.segment.isFinal()) continue;
        liveText += t.segment.text;
        lines.push_back(t.segment.text);
    }

    // Offline: the whole file at once; how long recognition takes against the audio's length.
    const double cpuBefore = tc::bench::processCpuSeconds();
    double fastElapsed = 0;
    const auto fast = transcribe(transcriber, audio, false, fastElapsed);
    const double cpu = tc::bench::processCpuSeconds() - cpuBefore;
    std::string fastText;
    for (const auto& t : fast) {
        if (t.segment.isFinal()) fastText += t.segment.text;
    }

    // Peak memory of one model's recognition, before the comparison below loads the model a second time.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    // The same offline pass without the previous line as context, to weigh what the context gives.
    tc::WhisperStreamingRecognizer::Settings noContext;
    noContext.promptCharacters = 0;
    tc::SpeechAnalyzerTranscriber withoutContext(
        "ja-JP", std::make_shared<tc::WhisperSpeechRecognitionEngine>(model, nullptr, noContext));
    double noContextElapsed = 0;
    std::string noContextText;
    for (const auto& t : transcribe(withoutContext, audio, false, noContextElapsed)) {
        if (t.segment.isFinal()) noContextText += t.segment.text;
    }

    const nlohmann::json result{
        {"model", model},
        {"audioSeconds", duration},
        {"turns", turns.size()},
        {"cer", tc::RecognizedText::characterErrorRate(reference, liveText)},
        {"cerOffline", tc::RecognizedText::characterErrorRate(reference, fastText)},
        {"cerOfflineWithoutContext", tc::RecognizedText::characterErrorRate(reference, noContextText)},
        {"realTimeFactor", fastElapsed / duration},
        {"cpuSecondsPerAudioSecond", cpu / duration},
        {"firstVolatileLatency", spread(firstVolatile)},
        {"finalLatency", spread(finalLatency)},
        {"turnsWithoutFinal", missed},
        {"peakMemoryMB", static_cast<double>(usage.ru_maxrss) / 1024.0},
        {"decodingThreads", tc::WhisperSpeechRecognitionEngine::decodingThreads()},
        {"loadAverageBefore", loadBefore},
        {"loadAverageAfter", tc::bench::loadAverage()},
        {"lines", lines},
    };
    std::ofstream(out) << result.dump(2) << '\n';
    return 0;
}

std::string figure(const nlohmann::json& value, int digits = 2)
{
    if (!value.is_number()) return "–";
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value.get<double>();
    return text.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--one") return measureOne(argv[2], argv[3]);

    std::vector<std::string> wanted;
    if (argc == 3 && std::string(argv[1]) == "--models") {
        std::istringstream names(argv[2]);
        for (std::string name; std::getline(names, name, ',');)
            wanted.push_back(name);
    }
    tc::SpeechModelManager models;
    std::vector<std::string> names;
    for (const auto& name : models.presentModels()) {
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), name) == wanted.end()) continue;
        const auto lookup = models.locate(name);
        if (const auto* message = std::get_if<std::string>(&lookup)) {
            std::cerr << name << ": " << *message << '\n';
            continue;
        }
        names.push_back(name);
    }
    if (names.empty()) {
        std::cerr << "no verified speech model is installed: run "
                  << tc::SpeechModelManager::installCommand(tc::SpeechModelManager::defaultModelName()) << '\n';
        return 1;
    }

    nlohmann::json results = nlohmann::json::array();
    for (const auto& name : names) {
        const fs::path out =
            fs::temp_directory_path() / ("asr-bench-" + std::to_string(getpid()) + "-" + name + ".json");
        std::cerr << "measuring " << name << " …\n";
        const pid_t child = fork();
        if (child == 0) {
            execl(argv[0], argv[0], "--one", name.c_str(), out.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        std::ifstream in(out);
        const auto result = nlohmann::json::parse(in, nullptr, false);
        fs::remove(out);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || result.is_discarded()) {
            std::cerr << name << ": measurement failed\n";
            continue;
        }
        results.push_back(result);
    }

    const fs::path dir = TC_BENCH_RESULTS_DIR;
    fs::create_directories(dir);
    const nlohmann::json document{
        {"benchmark", "asr"},
        {"audio", "data/speech/conversation.flac (10 turns, two synthetic voices)"},
        {"targets",
         {{"realTimeFactor", 0.5},
          {"finalLatencyP50", 1.5},
          {"finalLatencyP95", 3.0},
          {"firstVolatileLatency", 1.5},
          {"peakMemoryMB", 600}}},
        {"hardwareThreads", std::thread::hardware_concurrency()},
        {"models", results},
    };
    std::ofstream(dir / "asr.json") << document.dump(2) << '\n';

    std::ofstream md(dir / "asr.md");
    md << "# Speech recognition (conversation.flac, " << std::thread::hardware_concurrency() << " threads)\n\n"
       << "| model | CER (without context) | real-time factor | first volatile p50 / p95 (s) | final latency p50 / p95 "
          "(s) | peak memory "
          "(MB) | "
          "load avg |\n|---|---|---|---|---|---|---|\n";
    for (const auto& r : results) {
        md << "| " << r["model"].get<std::string>() << " | " << figure(r["cer"], 3) << " ("
           << figure(r["cerOfflineWithoutContext"], 3) << ") | " << figure(r["realTimeFactor"]) << " | "
           << figure(r["firstVolatileLatency"]["p50"]) << " / " << figure(r["firstVolatileLatency"]["p95"]) << " | "
           << figure(r["finalLatency"]["p50"]) << " / " << figure(r["finalLatency"]["p95"]) << " | "
           << figure(r["peakMemoryMB"], 0) << " | " << figure(r["loadAverageBefore"], 1) << " |\n";
    }
    md << "\nTargets with the default model: real-time factor ≤ 0.5, final latency p50 ≤ 1.5 s and p95 ≤ 3 s, "
          "first volatile ≤ 1.5 s, peak memory ≤ 600 MB. Latencies are measured with the audio fed at real-time "
          "pace, from the start (first volatile) or end (final) of each spoken turn.\n";
    md.close();
    std::cout << std::ifstream(dir / "asr.md").rdbuf();
    return 0;
}
