#pragma once

#include "TranscriptionInfrastructure/SpeechRecognitionEngine.h"

namespace tc {

// Stands in for the recognition engine in builds made without whisper.cpp: every run fails with a Japanese
// message saying how to build with it. Stateless.
class UnavailableSpeechRecognitionEngine final : public SpeechRecognitionEngine {
public:
    // Japanese only, so the locale check passes and the model step reports the missing engine.
    std::vector<std::string> supportedLocales() override;
    // A request whose install throws TranscriberError::modelUnavailable.
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const RecognizerModule& module) override;
    // Throws TranscriberError::modelUnavailable.
    std::shared_ptr<StreamingRecognizer> makeRecognizer(const RecognizerModule& module) override;
    static std::string message();
};

} // namespace tc
