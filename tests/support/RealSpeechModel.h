#pragma once

#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <memory>

namespace tc::test {

// The real default speech model, which scripts/setup installs; null (and a test failure) when it is missing.
std::shared_ptr<WhisperContext> realSpeechModel();

} // namespace tc::test
