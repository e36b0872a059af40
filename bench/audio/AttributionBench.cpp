// Who said what, live: the evaluation set's two-speaker recording (scripts/make-eval-set) goes into a private
// PulseAudio server, one voice written into its microphone (a pipe source) and the other played to its output
// (a null sink whose monitor is captured), while the app's session over both sources transcribes it. Reports how
// many lines carry the right speaker, how many are labelled 重複, and how far line times stray from the turns.
//
//   AttributionBench [--turns N] [--model base]
//
// Writes bench/results/attribution.md.

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"

#include "support/EvaluationSet.h"
#include "support/PulseAudioServer.h"
#include "support/TwoSpeakerSession.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <variant>

namespace {

namespace fs = std::filesystem;
constexpr double kLeadSeconds = 3.0;

std::vector<float> readTrack(const fs::path& file, double& rate)
{
    auto decoded = tc::SndfileDecoder().decode(file);
    if (!decoded) {
        std::cerr << "cannot read " << file << "; run scripts/make-eval-set\n";
        std::exit(1);
    }
    auto& audio = *decoded;
    rate = audio.sampleRate;
    return std::move(audio.channels.front());
}

std::string percent(int part, int whole)
{
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << (whole > 0 ? 100.0 * part / whole : 0.0) << " %";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t turnCount = 0;
    std::string model = "base";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--turns")
            turnCount = static_cast<std::size_t>(std::stoul(value));
        else if (key == "--model")
            model = value;
    }
    const fs::path set = tc::test::evalSetDir(fs::path(TC_TEST_DATA_DIR).parent_path());
    if (set.empty() || !fs::exists(set / "twospeaker.tsv")) {
        std::cerr << "the evaluation set is not rendered yet: run scripts/make-eval-set\n";
        return 1;
    }
    auto turns = tc::test::readSpeechTable(set / "twospeaker.tsv");
    if (turnCount > 0 && turnCount < turns.size()) turns.resize(turnCount);
    double rate = 0, systemRate = 0;
    auto microphone = readTrack(set / "twospeaker-mic.wav", rate);
    auto system = readTrack(set / "twospeaker-system.wav", systemRate);
    if (rate != systemRate) {
        std::cerr << "the two tracks differ in rate; run scripts/make-eval-set again\n";
        return 1;
    }
    // The tracks up to half a second after the last turn kept.
    const auto length = static_cast<std::size_t>((turns.back().end + 0.5) * rate);
    microphone.resize(std::min(microphone.size(), length));
    system.resize(std::min(system.size(), length));

    tc::test::PulseAudioServer server({.sinkName = "out", .pipeSources = {{"mic", static_cast<int>(rate), 1}}});
    if (!server.isRunning()) {
        std::cerr << "the sound server did not start: " << server.startError() << '\n';
        return 1;
    }
    const double loadBefore = tc::bench::loadAverage();
    const auto started = std::chrono::steady_clock::now();
    const auto lines =
        tc::test::runTwoSpeakerSession(server, std::make_shared<tc::SpeechAnalyzerTranscriber>("ja-JP", model),
                                       microphone, system, static_cast<int>(rate), kLeadSeconds, turns.back().end);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double loadAfter = tc::bench::loadAverage();
    const auto score = tc::test::scoreAttribution(turns, lines);

    const std::time_t now = std::time(nullptr);
    std::ostringstream md;
    md << "# Speaker attribution on the two-speaker recording\n\n"
       << "Made by `AttributionBench` (see `bench/audio/`): the evaluation set's `twospeaker` recording, one voice "
          "written into a private PulseAudio server's microphone (pipe source) and the other played to its output "
          "(null sink, monitor captured), both in real time, transcribed by the app's live session over both "
          "sources with the `"
       << model << "` model. A line is placed on the turns its span covers by 0.3 s or more; it is right when it "
       << "names the side that spoke, or, over turns of both sides (talking at once), when it says 重複 or names the "
          "side that spoke more.\n\n"
       << "| measured | value |\n|---|---|\n"
       << "| date (UTC) | " << std::put_time(std::gmtime(&now), "%Y-%m-%d %H:%M") << " |\n"
       << "| turns | " << turns.size() << " (" << std::fixed << std::setprecision(1) << turns.back().end
       << " s of audio) |\n"
       << "| lines | " << score.lines << " (" << score.scored << " over a turn) |\n"
       << "| attributed correctly | " << score.correct << " of " << score.scored << " ("
       << percent(score.correct, score.scored) << ") |\n"
       << "| lines over turns of both sides | " << score.bothSides << " |\n"
       << "| lines labelled 重複 | " << score.overlapLabels << " |\n"
       << "| lines naming their turn within 1 s of where their neighbours put the turns | " << score.namedLinesInStep
       << " of " << score.namedLines << " |\n"
       << "| offset growth from first to last line (feeding behind on a busy machine) | " << std::setprecision(2)
       << score.drift << " s |\n"
       << "| wall time | " << std::setprecision(1) << wall << " s |\n"
       << "| load average before / after | " << std::setprecision(2) << loadBefore << " / " << loadAfter << " |\n\n";
    md << "## Lines\n\nSession times; the recording began about " << std::setprecision(1) << score.offset
       << " s into the session.\n\n| start (s) | end (s) | speaker | text |\n|---|---|---|---|\n";
    for (const auto& line : lines)
        md << "| " << std::setprecision(2) << line.start << " | " << line.end << " | "
           << (line.speaker ? tc::speakerLabelText(*line.speaker) : std::string_view("-")) << " | " << line.text
           << " |\n";
    if (!score.misses.empty()) {
        md << "\n## Wrong\n\n";
        for (const auto& miss : score.misses)
            md << "- " << miss << '\n';
    }
    const fs::path out = fs::path(TC_BENCH_RESULTS_DIR) / "attribution.md";
    std::ofstream(out) << md.str();
    std::cout << md.str();
    return 0;
}
