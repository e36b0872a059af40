// How fast each whisper.cpp model size decodes on this machine, measured as the app measures an installed model
// (ModelSpeedTrial: a 3 s refresh and a 5 s final), and what the advisor makes of the figures.
//
//   ModelSpeedBench [--sizes tiny,base,small,medium,large-v3-turbo,large-v3] [--out FILE]
//
// Sizes other than the installed base model are stood in for by files that hold only the header, the mel filters
// and the vocabulary (taken from base's file) with the larger model's dimensions: the engine allocates the weights
// itself, so the compute cost is the real model's. The real base file is measured in the same run, for the ratio.
// Speech decodes where the app would decode it (GPU when one opens; TC_SPEECH_DEVICE=cpu for the processor).
#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/speech/ModelAdvisor.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace fs = std::filesystem;
using namespace tc;

namespace {

struct Dimensions {
    const char* name;
    std::int32_t vocabulary, audioState, audioHeads, audioLayers, textState, textHeads, textLayers, mels;
};

// whisper's published sizes.
constexpr Dimensions kSizes[] = {
    {"tiny", 51865, 384, 6, 4, 384, 6, 4, 80},
    {"base", 51865, 512, 8, 6, 512, 8, 6, 80},
    {"small", 51865, 768, 12, 12, 768, 12, 12, 80},
    {"medium", 51865, 1024, 16, 24, 1024, 16, 24, 80},
    {"large-v3-turbo", 51866, 1280, 20, 32, 1280, 20, 4, 128},
    {"large-v3", 51866, 1280, 20, 32, 1280, 20, 32, 128},
};

template <typename T>
T readValue(std::istream& in)
{
    T value{};
    in.read(reinterpret_cast<char*>(&value), sizeof value);
    if (!in) throw std::runtime_error("base model file ends early");
    return value;
}

template <typename T>
void writeValue(std::ostream& out, T value)
{
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

// A file of the size's dimensions with base's mel filters (rows repeated up to the size's count) and vocabulary,
// and no tensors.
void writeHeaderOnly(const fs::path& base, const Dimensions& size, const fs::path& out)
{
    std::ifstream in(base, std::ios::binary);
    const auto magic = readValue<std::uint32_t>(in);
    std::array<std::int32_t, 11> hparams{};
    for (auto& value : hparams)
        value = readValue<std::int32_t>(in);
    const auto filterMels = readValue<std::int32_t>(in);
    const auto filterBins = readValue<std::int32_t>(in);
    std::vector<float> filters(static_cast<std::size_t>(filterMels) * static_cast<std::size_t>(filterBins));
    in.read(reinterpret_cast<char*>(filters.data()), static_cast<std::streamsize>(filters.size() * sizeof(float)));
    const auto tokens = readValue<std::int32_t>(in);
    std::ostringstream vocabulary;
    for (std::int32_t i = 0; i < tokens; ++i) {
        const auto length = readValue<std::uint32_t>(in);
        std::string word(length, '\0');
        in.read(word.data(), length);
        writeValue(vocabulary, length);
        vocabulary.write(word.data(), length);
    }
    if (!in) throw std::runtime_error("base model file ends early");

    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    writeValue(file, magic);
    // n_vocab, n_audio_ctx, n_audio_state, n_audio_head, n_audio_layer, n_text_ctx, n_text_state, n_text_head,
    // n_text_layer, n_mels, ftype (f16).
    for (const std::int32_t value : {size.vocabulary, hparams[1], size.audioState, size.audioHeads, size.audioLayers,
                                     hparams[5], size.textState, size.textHeads, size.textLayers, size.mels, 1})
        writeValue(file, value);
    writeValue(file, size.mels);
    writeValue(file, filterBins);
    for (std::int32_t row = 0; row < size.mels; ++row)
        file.write(reinterpret_cast<const char*>(
                       &filters[static_cast<std::size_t>(row % filterMels) * static_cast<std::size_t>(filterBins)]),
                   static_cast<std::streamsize>(filterBins * sizeof(float)));
    // Base's words; the engine adds the one more a v3 vocabulary has.
    writeValue(file, tokens);
    file << vocabulary.str();
}

struct Row {
    std::string name;
    std::string kind;
    ModelSpeed speed;
    double loadSeconds = 0;
};

std::string fixed(double value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string machineLoad()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " / " + five + " / " + fifteen;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> wanted = {"tiny", "base", "small", "medium", "large-v3-turbo", "large-v3"};
    fs::path out = fs::path(TC_BENCH_RESULTS_DIR) / "model-speed.md";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--out") out = argv[i + 1];
        if (option == "--sizes") {
            wanted.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string size; std::getline(list, size, ',');)
                wanted.push_back(size);
        }
    }
    WhisperContext::silenceEngineLog();
    const auto lookup = SpeechModelManager().locate("base");
    if (!lookup) {
        std::cerr << "ModelSpeedBench: " << lookup.error() << "\n";
        return 1;
    }
    const fs::path base = *lookup;
    const fs::path folder = fs::temp_directory_path() / ("tc-model-speed-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string loadBefore = machineLoad();
    const auto device = WhisperContext::gpuDevice();
    std::cerr << "decoding on " << device.label() << ", load " << loadBefore << "\n";

    // The attention the app chose for base here, for every size: trying both would load the large ones twice.
    const auto attention =
        EncoderAttentionTrial(base, WhisperContext::defaultThreads()).remembered().value_or(EncoderAttention::flash);
    const auto measure = [&](const std::string& name, const std::string& kind, const fs::path& file) {
        const double began = bench::clockSeconds(CLOCK_MONOTONIC);
        const auto load = WhisperContext::load(file, 0, device.onGpu() ? EncoderAttention::flash : attention);
        if (!load) throw std::runtime_error(load.error().what());
        const auto& context = *load;
        const double loaded = bench::clockSeconds(CLOCK_MONOTONIC) - began;
        const auto speed = WhisperContext::speedTrial(file, context->device()).remembered();
        if (!speed) throw std::runtime_error("no speed measured for " + name);
        std::cerr << name << " (" << kind << "): refresh " << speed->refreshSeconds << " s, final "
                  << speed->finalSeconds << " s\n";
        return Row{name, kind, *speed, loaded};
    };

    std::vector<Row> rows;
    fs::create_symlink(base, folder / "ggml-base.bin");
    rows.push_back(measure("base", "実ファイル", folder / "ggml-base.bin"));
    for (const auto& size : kSizes) {
        if (std::find(wanted.begin(), wanted.end(), size.name) == wanted.end()) continue;
        const auto file = folder / ("ggml-" + std::string(size.name) + "-header-only.bin");
        writeHeaderOnly(base, size, file);
        rows.push_back(measure(size.name, "ヘッダーのみ", file));
        fs::remove(file);
    }
    fs::remove_all(folder);

    std::vector<ModelAdvisor::Candidate> candidates;
    for (const auto& row : rows)
        if (row.kind != "実ファイル") candidates.push_back({row.name, row.speed});
    const auto advice = ModelAdvisor::advise(candidates);

    const double baseFinal = rows.front().speed.finalSeconds;
    const double baseRefresh = rows.front().speed.refreshSeconds;
    std::ostringstream md;
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    md << "## " << date << ", " << device.label() << ", " << WhisperContext::defaultThreads() << " threads, "
       << std::thread::hardware_concurrency() << " processors (" << EncoderAttentionTrial::processorName()
       << "), load average before " << loadBefore << ", after " << machineLoad() << "\n\n";
    md << "| model | file | 3 s refresh (s) | 5 s final (s) | final / base | refresh / base | verdict |\n";
    md << "|---|---|---|---|---|---|---|\n";
    for (const auto& row : rows) {
        std::string verdict = "-";
        for (const auto& assessment : advice.models)
            if (row.kind != "実ファイル" && assessment.name == row.name)
                verdict = ModelAdvisor::verdictText(assessment.verdict);
        md << "| " << row.name << " | " << row.kind << " | " << fixed(row.speed.refreshSeconds, 2) << " | "
           << fixed(row.speed.finalSeconds, 2) << " | " << fixed(row.speed.finalSeconds / baseFinal, 2) << " | "
           << fixed(row.speed.refreshSeconds / baseRefresh, 2) << " | " << verdict << " |\n";
    }
    md << "\nAdvice: " << advice.reason << "\n";
    std::ofstream(out, std::ios::app) << md.str() << "\n";
    std::cout << md.str();
    return 0;
}
