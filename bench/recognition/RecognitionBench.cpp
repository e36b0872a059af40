// Live recognition on the evaluation set (scripts/make-eval-set): the recordings go into the microphone of a
// private PulseAudio server at real-time pace, and the app's own pipeline (microphone source, transcriber,
// session runner) turns them into lines. Per voice and condition it reports the character error rate, how
// lines map to sentences (split, merged), repeated phrases, Latin words nobody said, latencies, CPU and memory;
// over the non-speech recording, the lines made up per five minutes.
//
//   RecognitionBench [--voices mei,jf_alpha] [--conditions clean,pink10] [--sentences N] [--nonspeech SECONDS]
//                    [--model base] [--label NAME] [--prompt CHARS] [--end-pause SECONDS] [--pre-roll SECONDS]
//                    [--short-burst-pause SECONDS] [--min-spread DB] [--beam N]
//                    [--fallback TEMPERATURE_STEP] [--latin MINIMUM_PROBABILITY]
//                    [--drop-sound-loops 0|1] [--comma-hold SECONDS]
//                    [--hold-particles 0|1] [--textless-refresh SECONDS] [--first-text-before-retry 0|1]
//                    [--engine-no-speech 0|1] [--initial-prompt TEXT] [--retry-logprob LOGPROB]
//                    [--retry-entropy ENTROPY] [--final-margin FRAMES] [--suppress-nst 0|1]
//                    [--best-of N] [--min-speech-db DBFS]
//
// Each run adds its rows under its label to bench/results/recognition.json (rows of the same label, voice and
// condition are replaced) and rewrites bench/results/recognition.md from all rows, so levers measured in
// separate runs sit side by side with the load the machine had.

#include "BenchMeasures.h"
#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionInfrastructure/speech/EngineThreads.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

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
namespace S = tc::RecognitionScoring;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 16000;
constexpr std::size_t kBlock = 1024;
// Silence before the timed audio, while the session starts and the model loads, and after it, for the last line;
// on a busy machine the silence goes on (up to the limit) until the last sentence has its line.
constexpr double kLeadSeconds = 3.0;
constexpr double kTailSeconds = 4.0;
constexpr double kSettleLimitSeconds = 30.0;

struct Sentence {
    std::string id;
    std::string kind;
    double start = 0;
    double end = 0;
    std::string text;
};

struct Event {
    bool final = false;
    std::string text;
    // Seconds on the recording's time line when the event arrived.
    double at = 0;
};

struct Options {
    std::vector<std::string> voices{"mei", "jf_alpha", "jm_kumo"};
    std::vector<std::string> conditions{"clean", "pink20", "pink10", "babble10"};
    std::size_t sentences = 30;
    double nonspeechSeconds = 300;
    std::string model = "base";
    std::string label = "default";
    tc::WhisperStreamingRecognizer::Settings settings;
};

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

// What one live pass produced.
struct Pass {
    std::vector<Event> events;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double loadBefore = 0;
    double loadAfter = 0;
    // The process's peak during the pass, when the kernel could start the count again at its beginning.
    std::optional<double> peakMemoryMiB;
};

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

// Which reference sentence each hypothesis character lines up with, by a minimum-edit alignment of the whole
// recording's text; -1 for a character with no counterpart. Also the edit distance.
std::vector<int> align(const std::u32string& ref, const std::vector<int>& refSentence, const std::u32string& hyp,
                       std::size_t& edits)
{
    const std::size_t n = ref.size(), m = hyp.size();
    std::vector<std::uint32_t> cost((n + 1) * (m + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return cost[i * (m + 1) + j]; };
    for (std::size_t i = 0; i <= n; ++i)
        at(i, 0) = static_cast<std::uint32_t>(i);
    for (std::size_t j = 0; j <= m; ++j)
        at(0, j) = static_cast<std::uint32_t>(j);
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j)
            at(i, j) =
                std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + (ref[i - 1] == hyp[j - 1] ? 0U : 1U)});
    edits = at(n, m);
    std::vector<int> owner(m, -1);
    std::size_t i = n, j = m;
    while (i > 0 && j > 0) {
        if (at(i, j) == at(i - 1, j - 1) + (ref[i - 1] == hyp[j - 1] ? 0U : 1U)) {
            owner[j - 1] = refSentence[i - 1];
            --i;
            --j;
        } else if (at(i, j) == at(i, j - 1) + 1) {
            --j;
        } else {
            --i;
        }
    }
    return owner;
}

nlohmann::json spread(const std::vector<double>& values)
{
    return {{"p50", tc::bench::percentile(values, 0.5)},
            {"p95", tc::bench::percentile(values, 0.95)},
            {"count", values.size()}};
}

nlohmann::json scoreSpeech(const std::vector<Sentence>& sentences, const Pass& pass)
{
    std::u32string ref;
    std::vector<int> refSentence;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const auto text = S::normalized(sentences[s].text);
        ref += text;
        refSentence.insert(refSentence.end(), text.size(), static_cast<int>(s));
    }
    std::vector<Event> lines;
    std::u32string hyp;
    std::vector<std::size_t> hypLine;
    for (const auto& e : pass.events) {
        if (!e.final || e.text.empty()) continue;
        const auto text = S::normalized(e.text);
        hyp += text;
        hypLine.insert(hypLine.end(), text.size(), lines.size());
        lines.push_back(e);
    }
    std::size_t edits = 0;
    const auto owner = align(ref, refSentence, hyp, edits);

    // A line stands for a sentence when a fifth of the sentence (two characters at least) lines up with it.
    std::vector<std::map<int, std::size_t>> lineSentences(lines.size());
    for (std::size_t c = 0; c < hyp.size(); ++c)
        if (owner[c] >= 0) ++lineSentences[hypLine[c]][owner[c]];
    std::vector<std::vector<std::size_t>> sentenceLines(sentences.size());
    std::size_t mergedLines = 0, unmatchedLines = 0, repeated = 0, latinInvented = 0;
    nlohmann::json faults = nlohmann::json::array();
    for (std::size_t l = 0; l < lines.size(); ++l) {
        std::string spoken;
        std::size_t covered = 0;
        for (const auto& [s, count] : lineSentences[l]) {
            const std::size_t length = S::normalized(sentences[static_cast<std::size_t>(s)].text).size();
            if (count < std::max<std::size_t>(2, length / 5)) continue;
            sentenceLines[static_cast<std::size_t>(s)].push_back(l);
            spoken += sentences[static_cast<std::size_t>(s)].text;
            ++covered;
        }
        if (covered == 0) ++unmatchedLines;
        if (covered > 1) ++mergedLines;
        const std::size_t loops = S::repeatedPhrases(spoken, lines[l].text);
        const auto latin = S::inventedLatinWords(spoken, lines[l].text);
        repeated += loops;
        latinInvented += latin.size();
        if (covered != 1 || loops || !latin.empty()) faults.push_back(lines[l].text);
    }

    std::vector<double> finalLatency, firstVolatile;
    std::size_t split = 0, missed = 0;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const auto& mine = sentenceLines[s];
        if (mine.empty()) ++missed;
        if (mine.size() > 1) ++split;
        if (!mine.empty()) finalLatency.push_back(lines[mine.back()].at - sentences[s].end);
        const double next = s + 1 < sentences.size() ? sentences[s + 1].start : sentences[s].end + kTailSeconds;
        for (const auto& e : pass.events) {
            if (!e.final && !e.text.empty() && e.at >= sentences[s].start && e.at < next) {
                firstVolatile.push_back(e.at - sentences[s].start);
                break;
            }
        }
        // Which sentences make the slow tail, and what they became.
        if (std::getenv("TC_BENCH_DETAIL") && !mine.empty()) {
            std::cerr << "  #" << s << " final +" << std::fixed << std::setprecision(2) << finalLatency.back()
                      << " s: " << lines[mine.back()].text << '\n';
            for (const auto& e : pass.events)
                if (e.at >= sentences[s].start && e.at < next + 3.0)
                    std::cerr << "      " << (e.final ? "F " : "v ") << std::setprecision(2) << e.at - sentences[s].end
                              << ' ' << e.text << '\n';
        }
    }
    std::vector<std::string> lineTexts;
    for (const auto& l : lines)
        lineTexts.push_back(l.text);
    const double audioSeconds = sentences.back().end + 1.0;
    return {{"sentences", sentences.size()},
            {"cer", ref.empty() ? 0.0 : static_cast<double>(edits) / static_cast<double>(ref.size())},
            {"lines", lines.size()},
            {"linesPerSentence", static_cast<double>(lines.size()) / static_cast<double>(sentences.size())},
            {"splitSentences", split},
            {"mergedLines", mergedLines},
            {"missedSentences", missed},
            {"unmatchedLines", unmatchedLines},
            {"repeatedPhrases", repeated},
            {"inventedLatinWords", latinInvented},
            {"firstVolatile", spread(firstVolatile)},
            {"finalLatency", spread(finalLatency)},
            {"cpuCores", pass.cpuSeconds / pass.wallSeconds},
            {"audioSeconds", audioSeconds},
            {"loadBefore", pass.loadBefore},
            {"loadAfter", pass.loadAfter},
            {"faults", faults},
            {"text", lineTexts}};
}

nlohmann::json scoreNonSpeech(const Pass& pass, double seconds)
{
    std::vector<std::string> invented;
    for (const auto& e : pass.events)
        if (e.final && !e.text.empty()) invented.push_back(e.text);
    return {{"seconds", seconds},
            {"inventedLines", invented.size()},
            {"inventedLinesPer5Min", static_cast<double>(invented.size()) * 300.0 / seconds},
            {"cpuCores", pass.cpuSeconds / pass.wallSeconds},
            {"loadBefore", pass.loadBefore},
            {"loadAfter", pass.loadAfter},
            {"text", invented}};
}

std::vector<float> readAudio(const fs::path& file, double seconds)
{
    auto decoded = tc::SndfileDecoder().decode(file);
    if (!std::holds_alternative<tc::DecodedAudio>(decoded)) {
        std::cerr << "cannot read " << file << "; run scripts/make-eval-set\n";
        std::exit(1);
    }
    auto audio = std::move(std::get<tc::DecodedAudio>(decoded).channels.front());
    audio.resize(std::min(audio.size(), static_cast<std::size_t>(seconds * kRate)));
    audio.shrink_to_fit();
    return audio;
}

std::string figure(const nlohmann::json& value, int digits = 2)
{
    if (!value.is_number()) return "–";
    std::ostringstream text;
    text << std::fixed << std::setprecision(digits) << value.get<double>();
    return text.str();
}

void writeMarkdown(const nlohmann::json& document, const fs::path& file)
{
    std::ofstream md(file);
    md << "# Live recognition on the evaluation set\n\n"
          "Made by `RecognitionBench` (see `bench/recognition/`): sentences from `data/eval/sentences.tsv`, "
          "rendered by `scripts/make-eval-set`, played into a private PulseAudio microphone (16 kHz pipe source) "
          "at real-time pace through the app's session runner. CER after NFKC, kanji numerals as digits, "
          "punctuation and spaces removed. Latencies from the recording's onset / end of each sentence. "
          "`sent.` is how many sentences of the voice's fixed shuffled order were played; `load` is the "
          "one-minute load average before / after the run (other work shared the 2 cores), `nice` the "
          "benchmark's scheduling priority.\n\n"
          "| label | voice | condition | sent. | CER | lines/sent. | split | merged | missed | repeats | "
          "Latin invented | first volatile p50 / p95 (s) | final p50 / p95 (s) | cores | peak MB | load | nice |\n"
          "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (const auto& r : document["runs"]) {
        if (r["condition"] == "nonspeech") continue;
        md << "| " << r["label"].get<std::string>() << " | " << r["voice"].get<std::string>() << " | "
           << r["condition"].get<std::string>() << " | " << r["sentences"] << " | " << figure(r["cer"], 3) << " | "
           << figure(r["linesPerSentence"]) << " | " << r["splitSentences"] << " | " << r["mergedLines"] << " | "
           << r["missedSentences"] << " | " << r["repeatedPhrases"] << " | " << r["inventedLatinWords"] << " | "
           << figure(r["firstVolatile"]["p50"]) << " / " << figure(r["firstVolatile"]["p95"]) << " | "
           << figure(r["finalLatency"]["p50"]) << " / " << figure(r["finalLatency"]["p95"]) << " | "
           << figure(r["cpuCores"]) << " | " << figure(r["peakMemoryMB"], 0) << " | " << figure(r["loadBefore"], 1)
           << " / " << figure(r["loadAfter"], 1) << " | " << r.value("nice", 0) << " |\n";
    }
    md << "\n## Lines made up without speech\n\n"
          "| label | seconds | invented lines | per 5 min | cores | load |\n|---|---|---|---|---|---|\n";
    for (const auto& r : document["runs"]) {
        if (r["condition"] != "nonspeech") continue;
        md << "| " << r["label"].get<std::string>() << " | " << figure(r["seconds"], 0) << " | " << r["inventedLines"]
           << " | " << figure(r["inventedLinesPer5Min"]) << " | " << figure(r["cpuCores"]) << " | "
           << figure(r["loadBefore"], 1) << " / " << figure(r["loadAfter"], 1) << " |\n";
    }
}

std::vector<std::string> list(const std::string& text)
{
    std::vector<std::string> items;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
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
            options.voices = list(value);
        else if (key == "--conditions")
            options.conditions = list(value);
        else if (key == "--sentences")
            options.sentences = std::stoul(value);
        else if (key == "--nonspeech")
            options.nonspeechSeconds = std::stod(value);
        else if (key == "--model")
            options.model = value;
        else if (key == "--label")
            options.label = value;
        else if (key == "--prompt")
            options.settings.promptCharacters = std::stoul(value);
        else if (key == "--end-pause")
            options.settings.segmentation.endPauseSeconds = std::stod(value);
        else if (key == "--pre-roll")
            options.settings.segmentation.preRollSeconds = std::stod(value);
        else if (key == "--min-speech-db")
            options.settings.segmentation.detector.minimumSpeechDb = std::stod(value);
        else if (key == "--min-spread")
            options.settings.segmentation.minimumSpreadDb = std::stod(value);
        else if (key == "--comma-hold")
            options.settings.commaHoldSeconds = std::stod(value);
        else if (key == "--hold-particles")
            options.settings.holdAfterParticle = value == "1";
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
        else if (key == "--unsure")
            options.settings.inventedLogProbability = std::stod(value);
        else if (key == "--drop-sound-loops")
            options.settings.decoding.dropSoundLoops = value == "1";
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
        auto& runs = document["runs"];
        for (auto it = runs.begin(); it != runs.end(); ++it) {
            if ((*it)["label"] == row["label"] && (*it)["voice"] == row["voice"] &&
                (*it)["condition"] == row["condition"]) {
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
            sentences.resize(std::min(sentences.size(), options.sentences));
            const auto audio = readAudio(base.string() + ".wav", sentences.back().end + 1.0);
            std::cerr << options.label << ": " << voice << " " << condition << " (" << sentences.size()
                      << " sentences, " << static_cast<int>(static_cast<double>(audio.size()) / kRate) << " s)\n";
            const Pass pass = runLive(server, engine, audio, sentences.back().end);
            auto row = scoreSpeech(sentences, pass);
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
        const auto audio = readAudio(set / "nonspeech.wav", options.nonspeechSeconds);
        const double seconds = static_cast<double>(audio.size()) / kRate;
        std::cerr << options.label << ": non-speech (" << static_cast<int>(seconds) << " s)\n";
        const Pass pass = runLive(server, engine, audio, std::nullopt);
        auto row = scoreNonSpeech(pass, seconds);
        if (pass.peakMemoryMiB) row["peakMemoryMB"] = *pass.peakMemoryMiB;
        row["voice"] = "-";
        row["condition"] = "nonspeech";
        std::cerr << "  invented lines " << row["inventedLines"] << '\n';
        store(row);
    }
    std::cout << std::ifstream(resultsFile.parent_path() / "recognition.md").rdbuf();
    return 0;
}
