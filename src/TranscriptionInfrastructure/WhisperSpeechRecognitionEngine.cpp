#include "TranscriptionInfrastructure/WhisperSpeechRecognitionEngine.h"

#include "TranscriptionInfrastructure/TranscriberError.h"
#include "TranscriptionInfrastructure/WhisperContext.h"

#include <whisper.h>

#include <map>

namespace tc {

namespace {

// The model file cannot be fetched from here: the install command does the download and its checks.
class ModelInstallationRequest final : public AssetInstallationRequest {
public:
    explicit ModelInstallationRequest(std::string message) : m_message(std::move(message)) {}
    void downloadAndInstall() override { throw TranscriberError::modelUnavailable(m_message); }

private:
    std::string m_message;
};

std::string languageOf(const std::string& locale)
{
    const auto dash = locale.find_first_of("-_");
    return dash == std::string::npos ? locale : locale.substr(0, dash);
}

} // namespace

WhisperSpeechRecognitionEngine::WhisperSpeechRecognitionEngine(std::string modelName,
                                                               std::shared_ptr<SpeechModelManager> models,
                                                               WhisperStreamingRecognizer::Settings settings)
    : m_modelName(std::move(modelName)), m_models(models ? std::move(models) : std::make_shared<SpeechModelManager>()),
      m_settings(settings)
{
    m_settings.segmentation.sampleRate = WHISPER_SAMPLE_RATE;
}

WhisperSpeechRecognitionEngine::~WhisperSpeechRecognitionEngine() = default;

std::string WhisperSpeechRecognitionEngine::localeForLanguage(const std::string& code)
{
    // The region a language's speakers most often mean; languages not listed stay bare.
    static const std::map<std::string, std::string> regions{
        {"ja", "ja-JP"}, {"en", "en-US"}, {"zh", "zh-CN"},   {"ko", "ko-KR"}, {"de", "de-DE"}, {"fr", "fr-FR"},
        {"es", "es-ES"}, {"it", "it-IT"}, {"pt", "pt-BR"},   {"ru", "ru-RU"}, {"nl", "nl-NL"}, {"sv", "sv-SE"},
        {"pl", "pl-PL"}, {"tr", "tr-TR"}, {"uk", "uk-UA"},   {"vi", "vi-VN"}, {"th", "th-TH"}, {"id", "id-ID"},
        {"hi", "hi-IN"}, {"ar", "ar-SA"}, {"yue", "yue-HK"},
    };
    const auto it = regions.find(code);
    return it == regions.end() ? code : it->second;
}

std::vector<std::string> WhisperSpeechRecognitionEngine::supportedLocales()
{
    std::vector<std::string> locales;
    for (const auto& code : WhisperContext::languages())
        locales.push_back(localeForLanguage(code));
    return locales;
}

std::unique_ptr<AssetInstallationRequest>
WhisperSpeechRecognitionEngine::assetInstallationRequest(const RecognizerModule&)
{
    const auto lookup = m_models->locate(m_modelName);
    if (const auto* message = std::get_if<std::string>(&lookup))
        return std::make_unique<ModelInstallationRequest>(*message);
    return nullptr;
}

std::shared_ptr<StreamingRecognizer> WhisperSpeechRecognitionEngine::makeRecognizer(const RecognizerModule& module)
{
    std::shared_ptr<WhisperContext> context;
    {
        std::lock_guard lock(m_mutex);
        if (!m_context) {
            const auto lookup = m_models->locate(m_modelName);
            if (const auto* message = std::get_if<std::string>(&lookup))
                throw TranscriberError::modelUnavailable(*message);
            m_context = WhisperContext::load(std::get<std::filesystem::path>(lookup));
        }
        context = m_context;
    }
    WhisperStreamingRecognizer::Settings settings = m_settings;
    settings.volatileResults = module.volatileResults;
    return std::make_shared<WhisperStreamingRecognizer>(context->makeDecoder(languageOf(module.locale)), settings);
}

} // namespace tc
