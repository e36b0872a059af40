// Live recognition on the evaluation set (scripts/make-eval-set): the recordings go into the microphone of a
// private PulseAudio server at real-time pace, and the app's own pipeline (microphone source, transcriber,
// session runner) turns them into lines. Per voice and condition it reports the character error rate, how
// lines map to sentences (split, merged), repeated phrases, Latin words nobody said, latencies, CPU and memory;
// over the non-speech recording, the lines made up per five minutes. A condition names a session of the set:
// clean, pink20, pink10, babble10, music15, tones15, quiet25, reverb, phone, fast15, endings, endings-pink10. The
// voice "real" is the set's recordings of real speakers (conditions clean and pink10), reported in a table of its
// own. With --offline 1 the recording is read from its file as fast as the engine goes, as `--transcribe` does
// (file source, transcriber, session runner): error rates and line counts, no latencies.
//
//   RecognitionBench [--voices mei,jf_alpha] [--conditions clean,pink10] [--sentences N] [--nonspeech SECONDS]
//                    [--offline 0|1]
//                    [--model base] [--label NAME] [--prompt CHARS] [--end-pause SECONDS] [--pre-roll SECONDS]
//                    [--min-speech SECONDS] [--short-burst-pause SECONDS] [--min-spread DB] [--steady-pitch SHARE]
//                    [--steady-pitch-within DB] [--beam N]
//                    [--fallback TEMPERATURE_STEP] [--latin MINIMUM_PROBABILITY]
//                    [--lowercase-latin MINIMUM_PROBABILITY] [--latin-term MINIMUM_PROBABILITY]
//                    [--no-speech PROBABILITY] [--unsure LOGPROB]
//                    [--certain-no-speech PROBABILITY] [--confident LOGPROB]
//                    [--drop-sound-loops 0|1] [--comma-hold SECONDS] [--early-final SECONDS]
//                    [--hold-particles 0|1] [--hold-nouns 0|1] [--hold-continuing 0|1] [--hold-names 0|1]
//                    [--first-refresh SECONDS] [--textless-refresh SECONDS]
//                    [--first-text-before-retry 0|1] [--engine-no-speech 0|1] [--initial-prompt TEXT]
//                    [--retry-logprob LOGPROB] [--retry-entropy ENTROPY] [--final-margin FRAMES] [--suppress-nst 0|1]
//                    [--best-of N] [--min-speech-db DBFS] [--voice-model 0|1]
//                    [--voice-onset PROBABILITY] [--voice-hold PROBABILITY] [--voice-end-pause SECONDS]
//                    [--divide-at-pauses 0|1] [--drop-sampled-latin 0|1]
//
// Each run adds its rows under its label to bench/results/recognition.json (rows of the same label, voice and
// condition are replaced) and rewrites bench/results/recognition.md from them, keeping the page's rows of runs the
// JSON does not hold, so levers measured in separate runs (and clones) sit side by side with the machine's load.

#include "BenchMeasures.h"
#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"
#include "TranscriptionInfrastructure/speech/EngineThreads.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"
#include "recognition/LivePassScores.h"
#include "recognition/RecordingInputs.h"

#include "support/EvaluationSet.h"
#include "support/PulseAudioServer.h"

#include <nlohmann/json.hpp>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tc::bench::commaList;
using tc::bench::Event;
using tc::bench::figure;
using tc::bench::kTailSeconds;
using tc::bench::Pass;
using tc::bench::Sentence;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr std::size_t kBlock = 1024;
// Silence before the timed audio, while the session starts and the model loads, and after it, for the last line;
// on a busy machine the silence goes on (up to the limit) until the last sentence has its line.
constexpr double kLeadSeconds = 3.0;
constexpr double kSettleLimitSeconds = 30.0;

struct Options {
    std::vector<std::string> voices{"mei", "jf_alpha", "jm_kumo"};
    std::vector<std::string> conditions{"clean", "pink20", "pink10", "babble10"};
    std::size_t sentences = 30;
    double nonspeechSeconds = 300;
    std::string model = "base";
    std::string label = "default";
    bool offline = false;
    tc::WhisperStreamingRecognizer::Settings settings;
};

// The set's recordings of real speakers go by this voice name.
const std::string kRealVoice = "real";

// Records each event with the time it arrived.
class TimedSink final : public tc::OutputSink {
public:
    explicit TimedSink(Clock::time_point origin) : m_origin(origin) {}

    void emit(const tc::OutputEvent& event) override
    {
        const double at = std::chrono::duration<double>(Clock::now() - m_origin).count();
        std::lock_guard lock(m_mutex);
        if (event.kind == tc::OutputEvent::Kind::volatileTranscript)
            m_events.push_back({false, event.text, at});
        else if (event.kind == tc::OutputEvent::Kind::finalizedTranscript)
            m_events.push_back({true, event.text, at});
        else
            std::cerr << "  event: " << event.text << '\n';
    }

    std::vector<Event> events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    // Whether a line arrived after this time.
    bool finalSince(double at) const
    {
        std::lock_guard lock(m_mutex);
        return std::any_of(m_events.begin(), m_events.end(), [&](const Event& e) { return e.final && e.at > at; });
    }

private:
    const Clock::time_point m_origin;
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};

std::vector<Sentence> readTable(const fs::path& file)
{
    std::ifstream in(file);
    std::vector<Sentence> rows;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Sentence s;
        std::string start, end;
        std::getline(fields, s.id, '\t');
        std::getline(fields, s.kind, '\t');
        std::getline(fields, start, '\t');
        std::getline(fields, end, '\t');
        std::getline(fields, s.text);
        s.start = std::stod(start);
        s.end = std::stod(end);
        rows.push_back(s);
    }
    return rows;
}

// Feeds the audio into the microphone at real-time pace while the app's session transcribes it; with lastSpeechEnd
// set, the silence after the audio lasts until a line arrived after that time.
Pass runLive(const tc::test::PulseAudioServer& server, const std::shared_ptr<tc::SpeechRecognitionEngine>& engine,
             const std::vector<float>& audio, std::optional<double> lastSpeechEnd)
{
    Pass pass;
    pass.loadBefore = tc::bench::loadAverage();
    const bool peakReset = tc::bench::resetPeakMemory();
    const std::size_t lead = static_cast<std::size_t>(kLeadSeconds * kRate);
    const auto origin =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kLeadSeconds));
    auto sink = std::make_shared<TimedSink>(origin);
    auto source = std::make_shared<tc::MicrophoneAudioSource>(1024);
    auto transcriber = std::make_shared<tc::SpeechAnalyzerTranscriber>("ja-JP", engine);
    tc::RunTranscriptionSession session(source, transcriber, sink);
    const auto started = Clock::now();
    double feederCpu = 0;
    const double cpuBefore = tc::bench::processCpuSeconds();
    std::jthread running([&](std::stop_token stop) { session.run(stop); });
    {
        std::jthread feeder([&] {
            const double before = tc::bench::threadCpuSeconds();
            const std::size_t tail = static_cast<std::size_t>(kTailSeconds * kRate);
            const std::size_t total = lead + audio.size() + tail;
            const std::size_t limit = total + static_cast<std::size_t>(kSettleLimitSeconds * kRate);
            std::vector<float> block(kBlock);
            for (std::size_t offset = 0; offset < limit; offset += kBlock) {
                if (offset >= total && (!lastSpeechEnd || sink->finalSince(*lastSpeechEnd))) break;
                // A block exists once its last sample has been spoken.
                const std::size_t count = kBlock;
                std::this_thread::sleep_until(
                    started + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(static_cast<double>(offset + count) / kRate)));
                block.assign(count, 0.0F);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::size_t at = offset + i;
                    if (at >= lead && at - lead < audio.size()) block[i] = audio[at - lead];
                }
                server.writeToSource("mic", block);
            }
            feederCpu = tc::bench::threadCpuSeconds() - before;
        });
    }
    session.stop();
    running.request_stop();
    running.join();
    pass.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    pass.cpuSeconds = tc::bench::processCpuSeconds() - cpuBefore - feederCpu;
    pass.events = sink->events();
    pass.loadAfter = tc::bench::loadAverage();
    if (peakReset) pass.peakMemoryMiB = static_cast<double>(tc::bench::statusKiB("VmHWM:")) / 1024.0;
    return pass;
}

// Reads the recording from its file through the app's session runner as fast as the engine goes, as the command
// `--transcribe` does; the events' times are wall-clock seconds from the start, not positions in the recording.
Pass runOffline(const std::shared_ptr<tc::SpeechRecognitionEngine>& engine, const fs::path& file)
{
    Pass pass;
    pass.loadBefore = tc::bench::loadAverage();
    const bool peakReset = tc::bench::resetPeakMemory();
    const auto started = Clock::now();
    auto sink = std::make_shared<TimedSink>(started);
    // The frame size `--transcribe` reads files in.
    auto source = std::make_shared<tc::FileAudioSource>(file, 1600);
    auto transcriber = std::make_shared<tc::SpeechAnalyzerTranscriber>("ja-JP", engine);
    const double cpuBefore = tc::bench::processCpuSeconds();
    tc::RunTranscriptionSession(source, transcriber, sink).run();
    pass.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    pass.cpuSeconds = tc::bench::processCpuSeconds() - cpuBefore;
    pass.events = sink->events();
    pass.loadAfter = tc::bench::loadAverage();
    if (peakReset) pass.peakMemoryMiB = static_cast<double>(tc::bench::statusKiB("VmHWM:")) / 1024.0;
    return pass;
}

// The table rows of the page as it stands, by the heading of their section ("" for the first table).
std::map<std::string, std::vector<std::string>> existingRows(const fs::path& file)
{
    std::map<std::string, std::vector<std::string>> rows;
    std::ifstream in(file);
    std::string section, line;
    while (std::getline(in, line)) {
        if (line.starts_with("## "))
            section = line.substr(3);
        else if (line.starts_with("| ") && !line.starts_with("| label "))
            rows[section].push_back(line);
    }
    return rows;
}

// A row's first `cells` cells: what names the run it shows.
std::string rowKey(const std::string& row, std::size_t cells)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < cells && at != std::string::npos; ++i) at = row.find(" | ", at + 1);
    return row.substr(0, at);
}

// The page's rows kept from runs this tree's JSON does not hold (a fresh clone has none), then this tree's own.
void writeRows(std::ostream& md, const std::vector<std::string>& kept, const std::vector<std::string>& rows,
               std::size_t keyCells)
{
    std::set<std::string> keys;
    for (const auto& row : rows) keys.insert(rowKey(row, keyCells));
    for (const auto& row : kept)
        if (!keys.contains(rowKey(row, keyCells))) md << row << '\n';
    for (const auto& row : rows) md << row << '\n';
}

void writeMarkdown(const nlohmann::json& document, const fs::path& file)
{
    const std::string realSection = "Real voices", nonspeechSection = "Lines made up without speech";
    std::vector<std::string> liveRows, realRows, nonspeechRows;
    for (const auto& r : document["runs"]) {
        std::ostringstream row;
        if (r["condition"] == "nonspeech") {
            row << "| " << r["label"].get<std::string>() << " | " << figure(r["seconds"], 0) << " | "
                << r["inventedLines"] << " | " << figure(r["inventedLinesPer5Min"]) << " | " << figure(r["cpuCores"])
                << " | " << figure(r["loadBefore"], 1) << " / " << figure(r["loadAfter"], 1) << " |";
            nonspeechRows.push_back(row.str());
        } else if (r["voice"] == kRealVoice) {
            const bool live = r.value("pace", "live") == "live";
            row << "| " << r["label"].get<std::string>() << " | " << r["condition"].get<std::string>() << " | "
                << r.value("pace", "live") << " | " << r["sentences"] << " | " << figure(r["cer"], 3) << " | "
                << figure(r["linesPerSentence"]) << " | " << r["splitSentences"] << " | " << r["mergedLines"]
                << " | " << r["missedSentences"] << " | "
                << (live ? figure(r["finalLatency"]["p50"]) + " / " + figure(r["finalLatency"]["p95"]) : "–")
                << " | " << figure(r["cpuCores"]) << " | " << figure(r["loadBefore"], 1) << " / "
                << figure(r["loadAfter"], 1) << " |";
            realRows.push_back(row.str());
        } else {
            row << "| " << r["label"].get<std::string>() << " | " << r["voice"].get<std::string>() << " | "
                << r["condition"].get<std::string>() << (r.value("pace", "live") == "live" ? "" : " (offline)")
                << " | " << r["sentences"] << " | " << figure(r["cer"], 3) << " | " << figure(r["linesPerSentence"])
                << " | " << r["splitSentences"] << " | " << r["mergedLines"] << " | " << r["missedSentences"]
                << " | " << r["repeatedPhrases"] << " | " << r["inventedLatinWords"] << " | "
                << figure(r["firstVolatile"]["p50"]) << " / " << figure(r["firstVolatile"]["p95"]) << " | "
                << figure(r["finalLatency"]["p50"]) << " / " << figure(r["finalLatency"]["p95"]) << " | "
                << figure(r["cpuCores"]) << " | " << figure(r["peakMemoryMB"], 0) << " | "
                << figure(r["loadBefore"], 1) << " / " << figure(r["loadAfter"], 1) << " | " << r.value("nice", 0)
                << " |";
            liveRows.push_back(row.str());
        }
    }
    auto kept = existingRows(file);

    std::ofstream md(file);
    md << "# Live recognition on the evaluation set\n\n"
          "Made by `RecognitionBench` (see `bench/recognition/`): sentences from `data/eval/sentences.tsv` (the "
          "conditions `endings` and `endings-pink10` also `data/eval/endings.tsv`), rendered by "
          "`scripts/make-eval-set`, played into a private PulseAudio microphone (16 kHz pipe source) at "
          "real-time pace through the app's session runner. CER after NFKC, kanji numerals as digits, "
          "punctuation and spaces removed. Latencies from the recording's onset / end of each sentence. "
          "`sent.` is how many sentences of the voice's fixed shuffled order were played; `load` is the "
          "one-minute load average before / after the run (other work shared the 2 cores), `nice` the "
          "benchmark's scheduling priority.\n\n"
          "The current figures: a run replaces the rows of its label, voice and condition and keeps the others. "
          "Earlier runs and what was learnt from them: `docs/recognition.md`.\n\n"
          "| label | voice | condition | sent. | CER | lines/sent. | split | merged | missed | repeats | "
          "Latin invented | first volatile p50 / p95 (s) | final p50 / p95 (s) | cores | peak MB | load | nice |\n"
          "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    writeRows(md, kept[""], liveRows, 3);
    md << "\n## " << realSection << "\n\n"
          "Eight recordings of real human speakers (Common Voice, CC0; `data/eval/real-voices.tsv`), one sentence "
          "each, laid out with pauses by `scripts/make-eval-set` (voice `real`): `clean` as recorded, `pink10` with "
          "pink noise at 10 dB SNR. A sentence ends with its clip's last 20 ms within 40 dB of its loudest. "
          "`live` is played into the microphone at real-time pace; `offline` reads the file as fast as the engine "
          "goes, as `--transcribe` does (no latencies).\n\n"
          "| label | condition | pace | sent. | CER | lines/sent. | split | merged | missed | final p50 / p95 (s) | "
          "cores | load |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    writeRows(md, kept[realSection], realRows, 3);
    md << "\n## " << nonspeechSection << "\n\n"
          "| label | seconds | invented lines | per 5 min | cores | load |\n|---|---|---|---|---|---|\n";
    writeRows(md, kept[nonspeechSection], nonspeechRows, 1);
}

} // namespace

int main(int argc, char** argv)
{
    // As the app does; OMP_WAIT_POLICY=active in the environment measures decoding on one thread instead.
    tc::EngineThreads::restartWithPassiveWaiting();
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--voices")
            options.voices = commaList(value);
        else if (key == "--conditions")
            options.conditions = commaList(value);
        else if (key == "--sentences")
            options.sentences = std::stoul(value);
        else if (key == "--nonspeech")
            options.nonspeechSeconds = std::stod(value);
        else if (key == "--model")
            options.model = value;
        else if (key == "--label")
            options.label = value;
        else if (key == "--offline")
            options.offline = value == "1";
        else if (key == "--prompt")
            options.settings.promptCharacters = std::stoul(value);
        else if (key == "--end-pause")
            options.settings.segmentation.endPauseSeconds = std::stod(value);
        else if (key == "--pre-roll")
            options.settings.segmentation.preRollSeconds = std::stod(value);
        else if (key == "--voice-model")
            options.settings.useVoiceModel = value == "1";
        else if (key == "--voice-end-pause")
            options.settings.segmentation.voiceEndPauseSeconds = std::stod(value);
        else if (key == "--voice-onset")
            options.settings.segmentation.voiceOnsetProbability = std::stof(value);
        else if (key == "--voice-hold")
            options.settings.segmentation.voiceHoldProbability = std::stof(value);
        else if (key == "--min-speech-db")
            options.settings.segmentation.detector.minimumSpeechDb = std::stod(value);
        else if (key == "--min-spread")
            options.settings.segmentation.minimumSpreadDb = std::stod(value);
        else if (key == "--comma-hold")
            options.settings.commaHoldSeconds = std::stod(value);
        else if (key == "--early-final")
            options.settings.earlyFinalPauseSeconds = std::stod(value);
        else if (key == "--hold-particles")
            options.settings.holdAfterParticle = value == "1";
        else if (key == "--hold-nouns")
            options.settings.holdAfterNoun = value == "1";
        else if (key == "--hold-continuing")
            options.settings.holdAfterContinuingWord = value == "1";
        else if (key == "--hold-names")
            options.settings.holdAfterName = value == "1";
        else if (key == "--drop-sampled-latin")
            options.settings.dropSampledLatinLines = value == "1";
        else if (key == "--divide-at-pauses")
            options.settings.divideAtInnerPauses = value == "1";
        else if (key == "--min-speech")
            options.settings.segmentation.minimumSpeechSeconds = std::stod(value);
        else if (key == "--short-burst-pause")
            options.settings.segmentation.shortBurstPauseSeconds = std::stod(value);
        else if (key == "--beam")
            options.settings.decoding.finalBeamSize = std::stoi(value);
        else if (key == "--best-of")
            options.settings.decoding.finalBestOf = std::stoi(value);
        else if (key == "--fallback")
            options.settings.decoding.finalTemperatureIncrement = std::stof(value);
        else if (key == "--steady-pitch")
            options.settings.segmentation.maximumSteadyPitchShare = std::stod(value);
        else if (key == "--steady-pitch-within")
            options.settings.segmentation.steadyPitchWithinDb = std::stod(value);
        else if (key == "--no-speech")
            options.settings.noSpeechThreshold = std::stof(value);
        else if (key == "--certain-no-speech")
            options.settings.certainNoSpeech = std::stof(value);
        else if (key == "--confident")
            options.settings.confidentLogProbability = std::stod(value);
        else if (key == "--unsure")
            options.settings.inventedLogProbability = std::stod(value);
        else if (key == "--drop-sound-loops")
            options.settings.decoding.dropSoundLoops = value == "1";
        else if (key == "--first-refresh")
            options.settings.firstRefreshSeconds = std::stod(value);
        else if (key == "--textless-refresh")
            options.settings.textlessRefreshSeconds = std::stod(value);
        else if (key == "--first-text-before-retry")
            options.settings.firstTextBeforeRetry = value == "1";
        else if (key == "--engine-no-speech")
            options.settings.decoding.engineNoSpeechCheck = value == "1";
        else if (key == "--initial-prompt")
            options.settings.initialPrompt = value;
        else if (key == "--retry-logprob")
            options.settings.decoding.retryBelowLogProbability = std::stof(value);
        else if (key == "--retry-entropy")
            options.settings.decoding.retryBelowEntropy = std::stof(value);
        else if (key == "--final-margin")
            options.settings.decoding.finalContextMargin = std::stoi(value);
        else if (key == "--suppress-nst")
            options.settings.decoding.suppressNonSpeechTokens = value == "1";
        else if (key == "--latin")
            options.settings.decoding.unsureLatinProbability = std::stod(value);
        else if (key == "--lowercase-latin")
            options.settings.decoding.unsureLowercaseLatinProbability = std::stod(value);
        else if (key == "--latin-term")
            options.settings.decoding.unsureLatinTermProbability = std::stod(value);
        else {
            std::cerr << "unknown option " << key << '\n';
            return 2;
        }
    }
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
    auto engine = std::make_shared<tc::WhisperSpeechRecognitionEngine>(options.model, nullptr, options.settings);

    const fs::path resultsFile = fs::path(TC_BENCH_RESULTS_DIR) / "recognition.json";
    nlohmann::json document = nlohmann::json::parse(std::ifstream(resultsFile), nullptr, false);
    if (document.is_discarded() || !document.contains("runs")) document = {{"runs", nlohmann::json::array()}};
    const auto store = [&](nlohmann::json row) {
        row["label"] = options.label;
        row["model"] = options.model;
        // The session's own peak (see runLive); the process's would count the whole recording read before it.
        if (!row.contains("peakMemoryMB")) row["peakMemoryMB"] = tc::bench::peakMemoryMiB();
        row["hardwareThreads"] = std::thread::hardware_concurrency();
        row["decodingThreads"] = tc::WhisperSpeechRecognitionEngine::decodingThreads();
        // A benchmark run at a raised priority shows what the app does on a machine not shared with builds.
        row["nice"] = getpriority(PRIO_PROCESS, 0);
        row["pace"] = options.offline ? "offline" : "live";
        auto& runs = document["runs"];
        for (auto it = runs.begin(); it != runs.end(); ++it) {
            if ((*it)["label"] == row["label"] && (*it)["voice"] == row["voice"] &&
                (*it)["condition"] == row["condition"] && it->value("pace", "live") == row["pace"]) {
                runs.erase(it);
                break;
            }
        }
        runs.push_back(row);
        fs::create_directories(resultsFile.parent_path());
        std::ofstream(resultsFile) << document.dump(2) << '\n';
        writeMarkdown(document, resultsFile.parent_path() / "recognition.md");
    };

    for (const auto& voice : options.voices) {
        for (const auto& condition : options.conditions) {
            const fs::path base = set / "sessions" / (voice + "-" + condition);
            auto sentences = readTable(base.string() + ".tsv");
            if (sentences.empty()) {
                std::cerr << "missing " << base << ".tsv; run scripts/make-eval-set\n";
                return 1;
            }
            if (options.offline && sentences.size() > options.sentences) {
                std::cerr << "--offline reads whole recordings: give --sentences " << sentences.size()
                          << " or more for " << base << '\n';
                return 2;
            }
            sentences.resize(std::min(sentences.size(), options.sentences));
            const auto audio = tc::bench::readRecording(base.string() + ".wav", sentences.back().end + 1.0);
            std::cerr << options.label << ": " << voice << " " << condition << (options.offline ? " offline" : "")
                      << " (" << sentences.size() << " sentences, "
                      << static_cast<int>(static_cast<double>(audio.size()) / kRate) << " s)\n";
            const Pass pass = options.offline ? runOffline(engine, base.string() + ".wav")
                                              : runLive(server, engine, audio, sentences.back().end);
            auto row = tc::bench::scoreSpeech(sentences, pass);
            if (pass.peakMemoryMiB) row["peakMemoryMB"] = *pass.peakMemoryMiB;
            row["voice"] = voice;
            row["condition"] = condition;
            std::cerr << "  CER " << figure(row["cer"], 3) << ", final p50 " << figure(row["finalLatency"]["p50"])
                      << " s, load " << figure(row["loadBefore"], 1) << ", peak " << figure(row["peakMemoryMB"], 0)
                      << " MB\n";
            store(row);
        }
    }
    if (options.nonspeechSeconds > 0) {
        const auto audio = tc::bench::readRecording(set / "nonspeech.wav", options.nonspeechSeconds);
        const double seconds = static_cast<double>(audio.size()) / kRate;
        std::cerr << options.label << ": non-speech (" << static_cast<int>(seconds) << " s)\n";
        const Pass pass = runLive(server, engine, audio, std::nullopt);
        auto row = tc::bench::scoreNonSpeech(pass, seconds);
        if (pass.peakMemoryMiB) row["peakMemoryMB"] = *pass.peakMemoryMiB;
        row["voice"] = "-";
        row["condition"] = "nonspeech";
        std::cerr << "  invented lines " << row["inventedLines"] << '\n';
        store(row);
    }
    std::cout << std::ifstream(resultsFile.parent_path() / "recognition.md").rdbuf();
    return 0;
}
