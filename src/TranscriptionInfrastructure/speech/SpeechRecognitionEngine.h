#pragma once

#include "TranscriptionInfrastructure/speech/StreamingRecognizer.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace tc {

// Installs missing model files for a module.
class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;

    // Returns when the assets are installed or stop is requested; throws (Japanese what()) when recognition cannot
    // run without them.
    virtual void install(std::stop_token stop) = 0;
    // What the log should say while install() runs (Japanese); nothing by default.
    virtual std::optional<std::string> notice() const { return std::nullopt; }
};

// The recognition engine: its languages, its assets and its recognizers. Thread-safe.
class SpeechRecognitionEngine {
public:
    virtual ~SpeechRecognitionEngine() = default;

    // The locales the engine recognises, as BCP-47 identifiers.
    virtual std::vector<std::string> supportedLocales() = 0;
    // Nothing when the module's assets are installed and sound; otherwise a request. Throws on failure.
    virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const RecognizerModule& module) = 0;
    // What the log should say before makeRecognizer() when making the recognizer takes a while (Japanese); nothing
    // by default.
    virtual std::optional<std::string> preparationNotice(const RecognizerModule&) { return std::nullopt; }
    // A new recognizer for the module; throws (Japanese what()) when the model cannot be loaded.
    virtual std::shared_ptr<StreamingRecognizer> makeRecognizer(const RecognizerModule& module) = 0;
    // What the log should say about the recognizer makeRecognizer() made last, when it runs less well than it could
    // (Japanese, with the fix); nothing by default.
    virtual std::optional<std::string> notice(const RecognizerModule&) { return std::nullopt; }
};

} // namespace tc
