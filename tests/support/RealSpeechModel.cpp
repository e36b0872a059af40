#include "support/RealSpeechModel.h"

#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>

namespace tc::test {

std::optional<std::filesystem::path> realSpeechModelFile()
{
    const auto lookup = SpeechModelManager().locate(SpeechModelManager::defaultModelName());
    if (const auto* message = std::get_if<std::string>(&lookup)) {
        ADD_FAILURE() << "the speech model is missing (run scripts/setup): " << *message;
        return std::nullopt;
    }
    return std::get<std::filesystem::path>(lookup);
}

std::shared_ptr<WhisperContext> realSpeechModel(std::optional<EncoderAttention> attention)
{
    const auto file = realSpeechModelFile();
    if (!file) return nullptr;
    return WhisperContext::load(*file, 0, attention);
}

} // namespace tc::test
