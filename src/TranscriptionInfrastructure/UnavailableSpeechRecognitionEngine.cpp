#include "TranscriptionInfrastructure/UnavailableSpeechRecognitionEngine.h"

#include "TranscriptionInfrastructure/TranscriberError.h"

namespace tc {

namespace {

class FailingRequest final : public AssetInstallationRequest {
public:
    void downloadAndInstall() override
    {
        throw TranscriberError::modelUnavailable(UnavailableSpeechRecognitionEngine::message());
    }
};

} // namespace

std::string UnavailableSpeechRecognitionEngine::message()
{
    return "このビルドには音声認識エンジン（whisper.cpp）が組み込まれていません。scripts/setup "
           "を実行してビルドし直してください。";
}

std::vector<std::string> UnavailableSpeechRecognitionEngine::supportedLocales()
{
    return {"ja-JP"};
}

std::unique_ptr<AssetInstallationRequest>
UnavailableSpeechRecognitionEngine::assetInstallationRequest(const RecognizerModule&)
{
    return std::make_unique<FailingRequest>();
}

std::shared_ptr<StreamingRecognizer> UnavailableSpeechRecognitionEngine::makeRecognizer(const RecognizerModule&)
{
    throw TranscriberError::modelUnavailable(message());
}

} // namespace tc
