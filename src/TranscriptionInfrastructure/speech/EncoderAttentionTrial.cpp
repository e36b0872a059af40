#include "TranscriptionInfrastructure/speech/EncoderAttentionTrial.h"

#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <nlohmann/json.hpp>
#include <whisper.h>

#include <algorithm>
#include <fstream>
#include <system_error>
#include <thread>

namespace tc {

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecordName = ".encoder-attention.json";

const char* nameOf(EncoderAttention attention)
{
    return attention == EncoderAttention::flash ? "flash" : "plain";
}

nlohmann::json readRecord(const fs::path& file)
{
    std::ifstream in(file);
    if (!in) return nlohmann::json::object();
    auto record = nlohmann::json::parse(in, nullptr, false);
    return record.is_object() ? record : nlohmann::json::object();
}

} // namespace

std::string EncoderAttentionTrial::processorName()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    std::string part;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string field = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
        const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : "";
        if (field == "model name") return value;
        if (field == "CPU part" && part.empty()) part = "part " + value;
    }
    return part.empty() ? "unknown processor" : part;
}

EncoderAttentionTrial::EncoderAttentionTrial(const fs::path& modelFile, int threads)
    : m_record(modelFile.parent_path() / kRecordName)
{
    std::error_code error;
    const auto bytes = fs::file_size(modelFile, error);
    m_key = processorName() + "; " + std::to_string(std::thread::hardware_concurrency()) + " processors; whisper.cpp " +
            whisper_version() + "; " + std::to_string(threads) + " threads; " + modelFile.filename().string() + " " +
            std::to_string(error ? 0 : bytes) + " bytes";
}

std::optional<EncoderAttention> EncoderAttentionTrial::remembered() const
{
    const auto record = readRecord(m_record);
    const auto it = record.find(m_key);
    if (it == record.end() || !it->is_string()) return std::nullopt;
    for (const auto attention : {EncoderAttention::flash, EncoderAttention::plain})
        if (it->get<std::string>() == nameOf(attention)) return attention;
    return std::nullopt;
}

EncoderAttention EncoderAttentionTrial::measure(WhisperContext& flash, WhisperContext& plain) const
{
    // A first decoding sets up the engine's buffers: not counted.
    flash.encodingSeconds(1.0);
    plain.encodingSeconds(1.0);
    // A refresh, a short and a long final; the quicker of two tries each, the order swapped between them so a
    // passing load weighs on both.
    double flashTotal = 0;
    double plainTotal = 0;
    for (const double seconds : {1.0, 3.0, 5.0}) {
        const double flashFirst = flash.encodingSeconds(seconds);
        const double plainFirst = plain.encodingSeconds(seconds);
        const double plainSecond = plain.encodingSeconds(seconds);
        const double flashSecond = flash.encodingSeconds(seconds);
        flashTotal += std::min(flashFirst, flashSecond);
        plainTotal += std::min(plainFirst, plainSecond);
    }
    const auto faster = plainTotal < flashTotal ? EncoderAttention::plain : EncoderAttention::flash;
    remember(faster);
    return faster;
}

void EncoderAttentionTrial::remember(EncoderAttention attention) const
{
    // Other keys stay: a home folder shared by several machines keeps each one's choice. Unwritten, it is measured
    // again at a later start.
    auto record = readRecord(m_record);
    record[m_key] = nameOf(attention);
    (void)AtomicFileWriter::write(m_record, record.dump(1) + "\n", 0644);
}

} // namespace tc
