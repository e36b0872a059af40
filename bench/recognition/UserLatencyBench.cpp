// Final latency as a user sees it. The real app runs on a private X server with its window and caption panel shown,
// its microphone the pipe source of a private PulseAudio server, into which the evaluation recordings go at
// real-time pace. A sentence's latency runs from the end of its voice (the last 10 ms of the clean recording above an
// energy threshold, not the table's sentence boundary) to its last line entering the window's presentation model.
// The app's stage marks (TC_LATENCY_TRACE) split each line's time into where it went: the voice detector's tail, the
// pause that ends an utterance, capture, decoding or a hold, the hop to the session runner, the queued hop to the UI
// thread, and the UI thread's own handling; the app's CPU and its UI thread's share are read from /proc.
//
//   UserLatencyBench [--voices real,jf_alpha] [--conditions clean,pink10] [--sentences N] [--label NAME]
//                    [--app LABEL=PATH]...
//
// Several --app builds are run interleaved (each recording through each build before the next recording), so a
// before/after ratio sees the same load. Rows go to bench/results/user-latency.json (replaced by label, voice and
// condition) and bench/results/user-latency.md is rewritten from all rows.

#include "BenchMeasures.h"
#include "recognition/LivePassScores.h"
#include "recognition/RecordingInputs.h"

#include "support/EvaluationSet.h"
#include "support/PulseAudioServer.h"
#include "support/XvfbServer.h"

#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tc::bench::commaList;
using tc::bench::Event;
using tc::bench::figure;
using tc::bench::Pass;
using tc::bench::Sentence;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr std::size_t kBlock = 1024;
// Silence after the app hears its microphone and before the recording, for its first decodings to settle.
constexpr double kLeadSeconds = 3.0;
constexpr double kSettleLimitSeconds = 30.0;

double monotonicSeconds(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::vector<Sentence> readTable(const fs::path& file)
{
    std::vector<Sentence> rows;
    for (const auto& turn : tc::test::readSpeechTable(file))
        rows.push_back({turn.id, "", turn.start, turn.end, turn.text});
    return rows;
}

// Where each sentence's voice ends on the clean recording: the end of its last 10 ms frame above the threshold, which
// is 35 dB under the sentence's loudest frame or 10 dB over its quietest tenth, whichever is higher (a real
// recording's room noise never falls silent). Searched from the sentence's start to the next one's.
std::vector<double> voiceEnds(const std::vector<Sentence>& sentences, const std::vector<float>& clean)
{
    constexpr std::size_t frame = kRate / 100;
    std::vector<double> ends;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const double from = sentences[s].start;
        const double to = s + 1 < sentences.size() ? sentences[s + 1].start : sentences[s].end + 1.5;
        std::vector<double> db;
        const auto first = static_cast<std::size_t>(from * kRate);
        const auto last = std::min(clean.size(), static_cast<std::size_t>(to * kRate));
        for (std::size_t at = first; at + frame <= last; at += frame) {
            double energy = 0;
            for (std::size_t i = at; i < at + frame; ++i)
                energy += static_cast<double>(clean[i]) * clean[i];
            db.push_back(10.0 * std::log10(energy / frame + 1e-12));
        }
        if (db.empty()) {
            ends.push_back(sentences[s].end);
            continue;
        }
        std::vector<double> sorted = db;
        std::sort(sorted.begin(), sorted.end());
        const double threshold = std::max(sorted.back() - 35.0, sorted[sorted.size() / 10] + 10.0);
        std::size_t lastLoud = 0;
        for (std::size_t f = 0; f < db.size(); ++f)
            if (db[f] > threshold) lastLoud = f;
        ends.push_back(from + static_cast<double>(lastLoud + 1) * 0.01);
    }
    return ends;
}

struct Mark {
    std::string stage;
    double at = 0; // seconds on the recording's time line
    std::string detail;
};

std::vector<Mark> readTrace(const fs::path& file, double origin)
{
    std::vector<Mark> marks;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Mark m;
        std::string ns;
        std::getline(fields, m.stage, '\t');
        std::getline(fields, ns, '\t');
        std::getline(fields, m.detail);
        if (ns.empty()) continue;
        m.at = std::stod(ns) / 1e9 - origin;
        marks.push_back(std::move(m));
    }
    return marks;
}

bool traceHas(const fs::path& file, const std::string& stage, double after, double origin)
{
    for (const auto& m : readTrace(file, origin))
        if (m.stage == stage && m.at > after) return true;
    return false;
}

// CPU seconds of each of the process's threads by name; the main (UI) thread under "main".
std::map<std::string, double> threadCpu(qint64 pid)
{
    std::map<std::string, double> seconds;
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const auto open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::string name = text.substr(open + 1, close - open - 1);
        if (task.path().filename() == std::to_string(pid)) name = "main";
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14 || i == 15) ticks += std::stod(field);
            if (i == 15) break;
        }
        seconds[name] += ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

nlohmann::json spread(const std::vector<double>& v)
{
    if (v.empty()) return {{"p50", nullptr}, {"p95", nullptr}, {"count", 0}};
    return {{"p50", tc::bench::percentile(v, 0.5)}, {"p95", tc::bench::percentile(v, 0.95)}, {"count", v.size()}};
}

struct AppBuild {
    std::string label;
    fs::path program;
};

// One pass of a recording through one build of the app.
nlohmann::json runApp(const AppBuild& app, const tc::test::PulseAudioServer& server, const QString& display,
                      const std::vector<Sentence>& sentences, const std::vector<double>& ends,
                      const std::vector<float>& audio)
{
    QTemporaryDir home;
    const QString root = home.path();
    for (const char* dir : {"/.config/transcription-corvane", "/.local/share/transcription-corvane", "/.cache"})
        QDir().mkpath(root + dir);
    const fs::path models = fs::path(std::getenv("HOME")) / ".local/share/transcription-corvane/models";
    fs::create_symlink(models, fs::path(root.toStdString()) / ".local/share/transcription-corvane/models");
    {
        QSettings settings(root + "/.config/transcription-corvane/transcription-corvane.conf", QSettings::IniFormat);
        for (const char* consent : {"consent/microphone", "consent/speechRecognition"})
            settings.setValue(consent, "granted");
        settings.setValue("optInMic", true);
        settings.setValue("optInSystemAudio", false);
        settings.setValue("liveCaptionOverlayVisible", true);
    }
    const fs::path trace = fs::path(root.toStdString()) / "latency.tsv";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root);
    environment.insert("XDG_CONFIG_HOME", root + "/.config");
    environment.insert("XDG_DATA_HOME", root + "/.local/share");
    environment.insert("XDG_CACHE_HOME", root + "/.cache");
    environment.insert("DISPLAY", display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("TC_LATENCY_TRACE", QString::fromStdString(trace.string()));

    // The microphone is fed from launch: silence until the app hears it, then the lead and the recording.
    const auto feedStart = Clock::now();
    std::atomic<std::int64_t> recordingAt{-1}; // tape sample where the recording begins
    std::atomic<bool> stopFeeding{false};
    const std::size_t lead = static_cast<std::size_t>(kLeadSeconds * kRate);
    std::jthread feeder([&] {
        std::vector<float> block(kBlock);
        for (std::size_t offset = 0; !stopFeeding; offset += kBlock) {
            std::this_thread::sleep_until(feedStart + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(double(offset + kBlock) / kRate)));
            block.assign(kBlock, 0.0F);
            const std::int64_t begin = recordingAt.load();
            if (begin >= 0)
                for (std::size_t i = 0; i < kBlock; ++i) {
                    const auto at = static_cast<std::int64_t>(offset + i) - begin;
                    if (at >= 0 && static_cast<std::size_t>(at) < audio.size()) block[i] = audio[at];
                }
            server.writeToSource("mic", block);
        }
    });

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(app.program.string()), {});
    const double loadBefore = tc::bench::loadAverage();
    const auto waitFor = [](const std::function<bool()>& condition, double seconds) {
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        while (!condition()) {
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    };
    nlohmann::json row;
    if (!waitFor([&] { return traceHas(trace, "audio", -1e18, 0); }, 120)) {
        std::cerr << "  " << app.label << ": the app never heard its microphone\n";
        stopFeeding = true;
        process.terminate();
        process.waitForFinished(10000);
        return row;
    }
    // The recording starts at the next block the feeder writes after the lead.
    const double now = std::chrono::duration<double>(Clock::now() - feedStart).count();
    const auto begin = static_cast<std::int64_t>((std::ceil(now * kRate / kBlock) + 1) * kBlock) + lead;
    recordingAt = begin;
    const double origin = monotonicSeconds(feedStart) + static_cast<double>(begin) / kRate;
    const auto cpuBefore = threadCpu(process.processId());
    const auto pastEnd = [&](double t) {
        return std::chrono::duration<double>(Clock::now() - feedStart).count() > origin - monotonicSeconds(feedStart) + t;
    };
    waitFor([&] { return pastEnd(sentences.back().end + tc::bench::kTailSeconds); }, 3600);
    waitFor([&] { return traceHas(trace, "shown", sentences.back().end, origin); }, kSettleLimitSeconds);
    const auto cpuAfter = threadCpu(process.processId());
    const double wall = std::chrono::duration<double>(Clock::now() - feedStart).count() -
                        (origin - monotonicSeconds(feedStart));
    const double loadAfter = tc::bench::loadAverage();
    stopFeeding = true;
    feeder.join();
    process.terminate();
    if (!process.waitForFinished(20000)) process.kill();
    process.waitForFinished(5000);

    // Kept for reading a pass's stages line by line.
    fs::copy_file(trace, fs::temp_directory_path() / ("user-latency-" + app.label + ".tsv"),
                  fs::copy_options::overwrite_existing);
    const auto marks = readTrace(trace, origin);
    // Capture: how long after its last sample was spoken each buffer reached the recognizer, above the least such
    // delay (the tape's position of the stream's first sample is not known, only that delay is never negative).
    std::vector<double> offsets;
    std::vector<std::pair<double, double>> audioMarks; // (at, stream seconds)
    for (const auto& m : marks)
        if (m.stage == "audio") {
            const double stream = std::stod(m.detail);
            audioMarks.emplace_back(m.at, stream);
            offsets.push_back(m.at - stream);
        }
    const double streamOffset = offsets.empty() ? 0 : *std::min_element(offsets.begin(), offsets.end());

    Pass pass;
    pass.loadBefore = loadBefore;
    pass.loadAfter = loadAfter;
    pass.wallSeconds = wall;
    double appCpu = 0;
    for (const auto& [name, seconds] : cpuAfter)
        appCpu += seconds - (cpuBefore.contains(name) ? cpuBefore.at(name) : 0.0);
    pass.cpuSeconds = appCpu;
    std::vector<std::size_t> shownMarks;
    for (std::size_t i = 0; i < marks.size(); ++i)
        if (marks[i].stage == "shown" && !marks[i].detail.empty()) {
            pass.events.push_back(Event{true, marks[i].detail, marks[i].at});
            shownMarks.push_back(i);
        }
    // The voice's end as the sentence's end: the score's final latency is then the one a user sees.
    std::vector<Sentence> heard = sentences;
    for (std::size_t s = 0; s < heard.size(); ++s)
        heard[s].end = ends[s];
    row = tc::bench::scoreSpeech(heard, pass);
    const auto runnerRow = [&] {
        // The session runner's figure as the recognition benchmark reports it: the sink's time against the table.
        Pass runner = pass;
        runner.events.clear();
        for (const auto& m : marks)
            if (m.stage == "sink") runner.events.push_back(Event{true, m.detail, m.at});
        return tc::bench::scoreSpeech(sentences, runner);
    }();
    row["runnerFinalLatency"] = runnerRow["finalLatency"];
    row["userFinalLatency"] = row["finalLatency"];

    // Each sentence's last line, followed back through its marks.
    std::map<std::string, std::vector<double>> stages;
    std::size_t heldLines = 0, earlyLines = 0;
    const auto& lastLine = row["sentenceLastLine"];
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const int line = lastLine[s].get<int>();
        if (line < 0) continue;
        const std::size_t shown = shownMarks[static_cast<std::size_t>(line)];
        const auto before = [&](std::size_t from, const std::string& stage) -> std::optional<std::size_t> {
            for (std::size_t i = from + 1; i-- > 0;)
                if (marks[i].stage == stage) return i;
            return std::nullopt;
        };
        const auto ui = before(shown, "ui");
        const auto sink = ui ? before(*ui, "sink") : std::nullopt;
        const auto final = sink ? before(*sink, "final") : std::nullopt;
        const auto begins = final ? before(*final, "final-begins") : std::nullopt;
        const auto cut = begins ? before(*begins, "cut") : std::nullopt;
        if (!cut) continue;
        std::istringstream cutFields(marks[*cut].detail);
        double elapsed = 0, start = 0, end = 0, pause = 0;
        cutFields >> elapsed >> start >> end >> pause;
        // The buffer that completed the cut arrived with it; its last sample was spoken at its stream time.
        const double capture = (marks[*cut].at - elapsed) - streamOffset;
        const double speechEnd = end - pause + streamOffset; // on the recording's time line, capture delay aside
        stages["voiceToDetectorEnd"].push_back(speechEnd - ends[s]);
        stages["endPause"].push_back(pause);
        stages["capture"].push_back(capture);
        stages["cutToFinal"].push_back(marks[*final].at - marks[*cut].at);
        stages["finalToSink"].push_back(marks[*sink].at - marks[*final].at);
        stages["sinkToUi"].push_back(marks[*ui].at - marks[*sink].at);
        stages["uiHandling"].push_back(marks[shown].at - marks[*ui].at);
        stages["voiceToShown"].push_back(marks[shown].at - ends[s]);
        for (std::size_t i = *cut; i < *final; ++i)
            if (marks[i].stage == "held") {
                ++heldLines;
                break;
            }
        if (marks[*begins].detail == "early") ++earlyLines;
    }
    nlohmann::json breakdown;
    for (const auto& [stage, values] : stages)
        breakdown[stage] = spread(values);
    row["stages"] = breakdown;
    row["heldLines"] = heldLines;
    row["earlyFinalLines"] = earlyLines;
    const double mainCpu = (cpuAfter.contains("main") ? cpuAfter.at("main") : 0) -
                           (cpuBefore.contains("main") ? cpuBefore.at("main") : 0);
    row["uiThreadCores"] = mainCpu / wall;
    row["appCores"] = appCpu / wall;
    row.erase("finalLatency");
    row.erase("firstVolatile");
    row.erase("cpuCores");
    return row;
}

void writeMarkdown(const nlohmann::json& document, const fs::path& file)
{
    std::ofstream md(file);
    md << "# Final latency as users see it\n\n"
          "Made by `UserLatencyBench` (`bench/recognition/`): the real app on a private X server (window and caption "
          "panel shown), its microphone a private PulseAudio pipe source fed at real-time pace with the evaluation "
          "recordings. Latency from the end of each sentence's voice (energy on the clean recording) to its last line "
          "entering the window's presentation model; `runner` is the same lines at the session runner against the "
          "table's sentence end, as `RecognitionBench` reports. Stage medians in seconds: the voice detector's tail "
          "after the energy end, the end pause it waits, capture, cut to final (decoding or a hold), final to the "
          "runner, the queued hop to the UI thread, the UI thread's handling. `load` is the one-minute load average "
          "before / after (2 cores shared with other work).\n\n"
          "| label | voice | condition | sent. | user p50 / p95 (s) | runner p50 / p95 (s) | split | merged | CER | "
          "detector tail / end pause / capture | cut→final / →runner / →UI / UI | held, early lines | app, UI "
          "thread cores | load |\n|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const auto& r : document["runs"]) {
        const auto& st = r["stages"];
        const auto stage = [&](const char* name) { return st.contains(name) ? figure(st[name]["p50"]) : "–"; };
        md << "| " << r["label"].get<std::string>() << " | " << r["voice"].get<std::string>() << " | "
           << r["condition"].get<std::string>() << " | " << r["sentences"] << " | "
           << figure(r["userFinalLatency"]["p50"]) << " / " << figure(r["userFinalLatency"]["p95"]) << " | "
           << figure(r["runnerFinalLatency"]["p50"]) << " / " << figure(r["runnerFinalLatency"]["p95"]) << " | "
           << r["splitSentences"] << " | " << r["mergedLines"] << " | " << figure(r["cer"], 3) << " | "
           << stage("voiceToDetectorEnd") << " / " << stage("endPause") << " / " << stage("capture") << " | "
           << stage("cutToFinal") << " / " << stage("finalToSink") << " / " << stage("sinkToUi") << " / "
           << stage("uiHandling") << " | " << r["heldLines"] << ", " << r["earlyFinalLines"] << " | "
           << figure(r["appCores"]) << ", " << figure(r["uiThreadCores"]) << " | " << figure(r["loadBefore"], 1)
           << " / " << figure(r["loadAfter"], 1) << " |\n";
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication qt(argc, argv);
    std::vector<std::string> voices{"real", "jf_alpha"}, conditions{"clean", "pink10"};
    std::size_t count = 20;
    std::string label = "default";
    std::vector<AppBuild> apps;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--voices")
            voices = commaList(value);
        else if (key == "--conditions")
            conditions = commaList(value);
        else if (key == "--sentences")
            count = std::stoul(value);
        else if (key == "--label")
            label = value;
        else if (key == "--app" && value.find('=') != std::string::npos)
            apps.push_back({value.substr(0, value.find('=')), value.substr(value.find('=') + 1)});
        else {
            std::cerr << "unknown option " << key << '\n';
            return 2;
        }
    }
    if (apps.empty())
        apps.push_back({label, fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "src/transcription-corvane"});
    const fs::path set = tc::test::evalSetDir(fs::path(TC_TEST_DATA_DIR).parent_path());
    if (set.empty() || !fs::exists(set / "sessions")) {
        std::cerr << "the evaluation set is not rendered yet: run scripts/make-eval-set\n";
        return 1;
    }
    tc::test::PulseAudioServer server({.sinkName = "out", .pipeSources = {{"mic", kRate, 1}}});
    if (!server.isRunning()) {
        std::cerr << "no sound server: " << server.startError() << '\n';
        return 1;
    }
    tc::test::XvfbServer x;
    if (x.display().isEmpty()) {
        std::cerr << "no X server could be started\n";
        return 1;
    }
    const fs::path resultsFile = fs::path(TC_BENCH_RESULTS_DIR) / "user-latency.json";
    nlohmann::json document = nlohmann::json::parse(std::ifstream(resultsFile), nullptr, false);
    if (document.is_discarded() || !document.contains("runs")) document = {{"runs", nlohmann::json::array()}};

    for (const auto& voice : voices) {
        for (const auto& condition : conditions) {
            const fs::path base = set / "sessions" / (voice + "-" + condition);
            auto sentences = readTable(base.string() + ".tsv");
            if (sentences.empty()) {
                std::cerr << "missing " << base << ".tsv; run scripts/make-eval-set\n";
                return 1;
            }
            sentences.resize(std::min(sentences.size(), count));
            auto audio = tc::bench::readRecording(base.string() + ".wav");
            audio.resize(std::min(audio.size(), static_cast<std::size_t>((sentences.back().end + 1.0) * kRate)));
            const auto ends = voiceEnds(sentences, tc::bench::readRecording(set / "sessions" / (voice + "-clean.wav")));
            for (const auto& app : apps) {
                std::cerr << app.label << ": " << voice << " " << condition << " (" << sentences.size()
                          << " sentences)\n";
                auto row = runApp(app, server, x.display(), sentences, ends, audio);
                if (row.is_null()) continue;
                row["label"] = app.label;
                row["voice"] = voice;
                row["condition"] = condition;
                std::cerr << "  user p50 " << figure(row["userFinalLatency"]["p50"]) << " p95 "
                          << figure(row["userFinalLatency"]["p95"]) << ", runner p50 "
                          << figure(row["runnerFinalLatency"]["p50"]) << ", split " << row["splitSentences"]
                          << ", merged " << row["mergedLines"] << ", load " << figure(row["loadBefore"], 1) << '\n';
                auto& runs = document["runs"];
                for (auto it = runs.begin(); it != runs.end(); ++it)
                    if ((*it)["label"] == row["label"] && (*it)["voice"] == voice && (*it)["condition"] == condition) {
                        runs.erase(it);
                        break;
                    }
                runs.push_back(row);
                fs::create_directories(resultsFile.parent_path());
                std::ofstream(resultsFile) << document.dump(2) << '\n';
                writeMarkdown(document, resultsFile.parent_path() / "user-latency.md");
            }
        }
    }
    std::cout << std::ifstream(resultsFile.parent_path() / "user-latency.md").rdbuf();
    return 0;
}
