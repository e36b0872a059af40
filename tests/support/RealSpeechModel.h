#pragma once

#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace tc::test {

// The real default speech model, which scripts/setup installs; null (and a test failure) when it is missing.
// Without an attention, the one faster on this processor, as the app loads it.
std::shared_ptr<WhisperContext> realSpeechModel(std::optional<EncoderAttention> attention = std::nullopt);
// Its file; nothing (and a test failure) when it is missing.
std::optional<std::filesystem::path> realSpeechModelFile();

} // namespace tc::test
