#include "TranscriptionInfrastructure/speech/ModelSpeedTrial.h"

#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/speech/EncoderAttentionTrial.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <system_error>
#include <thread>

namespace tc {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordName = ".model-speed.json";

nlohmann::json readRecord(const fs::path& file)
{
    std::ifstream in(file);
    if (!in) return nlohmann::json::object();
    auto record = nlohmann::json::parse(in, nullptr, false);
    return record.is_object() ? record : nlohmann::json::object();
}

int tokensFor(double seconds)
{
    return static_cast<int>(std::lround(seconds * ModelSpeedTrial::tokensPerSecond));
}

} // namespace

ModelSpeedTrial::ModelSpeedTrial(const fs::path& modelFile, int threads, const std::string& device,
                                 const std::string& engine)
    : m_record(modelFile.parent_path() / kRecordName)
{
    std::error_code error;
    const auto bytes = fs::file_size(modelFile, error);
    m_key = EncoderAttentionTrial::processorName() + "; " + std::to_string(std::thread::hardware_concurrency()) +
            " processors; whisper.cpp " + engine + "; " + device + "; " + std::to_string(threads) + " threads; " +
            modelFile.filename().string() + " " + std::to_string(error ? 0 : bytes) + " bytes";
}

double ModelSpeedTrial::steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<ModelSpeed> ModelSpeedTrial::remembered() const
{
    const auto record = readRecord(m_record);
    const auto it = record.find(m_key);
    if (it == record.end() || !it->is_object()) return std::nullopt;
    const auto refresh = it->find("refreshSeconds");
    const auto final = it->find("finalSeconds");
    if (refresh == it->end() || final == it->end() || !refresh->is_number() || !final->is_number()) return std::nullopt;
    ModelSpeed speed{refresh->get<double>(), final->get<double>()};
    if (!(speed.refreshSeconds > 0) || !(speed.finalSeconds > 0)) return std::nullopt;
    return speed;
}

ModelSpeed ModelSpeedTrial::measure(const Decoding& decode, const Clock& clock) const
{
    // The first decoding sets up the engine's buffers (and a GPU's pipelines): not counted.
    decode(1.0, 1);
    const auto timed = [&](double seconds) {
        const double began = clock();
        decode(seconds, tokensFor(seconds));
        return clock() - began;
    };
    ModelSpeed speed{timed(refreshAudioSeconds), timed(finalAudioSeconds)};
    // Twice, in the other order, so a passing load weighs on both; the quicker is the machine's own speed.
    speed.finalSeconds = std::min(speed.finalSeconds, timed(finalAudioSeconds));
    speed.refreshSeconds = std::min(speed.refreshSeconds, timed(refreshAudioSeconds));
    remember(speed);
    return speed;
}

void ModelSpeedTrial::remember(const ModelSpeed& speed) const
{
    // Other keys stay: another device or machine keeps its own figures. Unwritten, it is measured again later.
    auto record = readRecord(m_record);
    record[m_key] = {{"refreshSeconds", speed.refreshSeconds}, {"finalSeconds", speed.finalSeconds}};
    (void)AtomicFileWriter::write(m_record, record.dump(1) + "\n", 0644);
}

} // namespace tc
