#include "support/RealSpeechModel.h"

#include "TranscriptionInfrastructure/audio/FileAudioSource.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

namespace tc::test {

std::optional<std::filesystem::path> realSpeechModelFile()
{
    const auto lookup = SpeechModelManager().locate(SpeechModelManager::defaultModelName());
    if (!lookup) {
        ADD_FAILURE() << "the speech model is missing (run scripts/setup): " << lookup.error();
        return std::nullopt;
    }
    return *lookup;
}

std::shared_ptr<WhisperContext> realSpeechModel(std::optional<EncoderAttention> attention)
{
    const auto file = realSpeechModelFile();
    if (!file) return nullptr;
    auto loaded = WhisperContext::load(*file, 0, attention);
    if (!loaded) {
        ADD_FAILURE() << "the speech model does not load: " << loaded.error().what();
        return nullptr;
    }
    return std::move(loaded).value();
}

std::optional<std::vector<std::filesystem::path>>
linkRealSpeechModel(const std::filesystem::path& folder, const std::vector<std::string>& fileNames, bool withAttention)
{
    const auto real = realSpeechModelFile();
    if (!real) return std::nullopt;
    std::vector<std::filesystem::path> links;
    for (const auto& name : fileNames)
        std::filesystem::create_symlink(*real, links.emplace_back(folder / name));
    std::vector<std::string> records{".model-speed.json"};
    if (withAttention) records.push_back(".encoder-attention.json");
    // Each record is keyed by processor, engine, threads and the model file's name and size.
    const std::string realName = real->filename().string();
    for (const auto& record : records) {
        std::ifstream in(real->parent_path() / record);
        const auto measured = nlohmann::json::parse(in, nullptr, false);
        if (!measured.is_object()) continue;
        nlohmann::json copied = nlohmann::json::object();
        for (const auto& entry : measured.items()) {
            const auto at = entry.key().find(realName);
            if (at == std::string::npos) continue;
            for (const auto& name : fileNames)
                copied[std::string(entry.key()).replace(at, realName.size(), name)] = entry.value();
        }
        std::ofstream(folder / record) << copied.dump();
    }
    return links;
}

std::vector<TranscriptSegment> transcribedFile(const std::shared_ptr<SpeechRecognitionEngine>& engine,
                                               const std::filesystem::path& file)
{
    SpeechAnalyzerTranscriber transcriber("ja-JP", engine);
    FileAudioSource source(file, 1600);
    auto segments = transcriber.transcribe(source.start());
    std::vector<TranscriptSegment> all;
    while (auto segment = segments->next())
        all.push_back(std::move(*segment));
    return all;
}

} // namespace tc::test
