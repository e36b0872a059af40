#include "support/RealSpeechModel.h"

#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <variant>

namespace tc::test {

std::shared_ptr<WhisperContext> realSpeechModel()
{
    const auto lookup = SpeechModelManager().locate(SpeechModelManager::defaultModelName());
    if (const auto* message = std::get_if<std::string>(&lookup)) {
        ADD_FAILURE() << "the speech model is missing (run scripts/setup): " << *message;
        return nullptr;
    }
    return WhisperContext::load(std::get<std::filesystem::path>(lookup));
}

} // namespace tc::test
