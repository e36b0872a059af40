#pragma once

#include "TranscriptionDomain/TranscriptSegment.h"
#include "TranscriptionInfrastructure/speech/SpeechRecognitionEngine.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc::test {

// The real default speech model, which scripts/setup installs; null (and a test failure) when it is missing.
// Without an attention, the one faster on this processor, as the app loads it.
std::shared_ptr<WhisperContext> realSpeechModel(std::optional<EncoderAttention> attention = std::nullopt);
// Its file; nothing (and a test failure) when it is missing.
std::optional<std::filesystem::path> realSpeechModelFile();
// Links the real model into `folder` as each of `fileNames` with this machine's speed record, and its attention
// record unless `withAttention` is false, copied for each link, so that a load there times nothing it need not.
// Nothing (and a test failure) when the model is missing.
std::optional<std::vector<std::filesystem::path>> linkRealSpeechModel(const std::filesystem::path& folder,
                                                                      const std::vector<std::string>& fileNames,
                                                                      bool withAttention = true);

// Every segment the app's file pipeline (file source, transcriber) makes of the file with this engine.
std::vector<TranscriptSegment> transcribedFile(const std::shared_ptr<SpeechRecognitionEngine>& engine,
                                               const std::filesystem::path& file);

} // namespace tc::test
