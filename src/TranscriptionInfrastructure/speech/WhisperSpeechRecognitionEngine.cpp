#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include "TranscriptionInfrastructure/speech/EncoderAttentionTrial.h"
#include "TranscriptionInfrastructure/speech/ModelSpeedTrial.h"
#include "TranscriptionInfrastructure/speech/SileroVoiceDetector.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <variant>

// Builds made before whisper.cpp was built leave the engine's own sources out; this engine then reports the
// missing engine instead of recognising.
#if __has_include(<whisper.h>)
#define TC_WITH_WHISPER 1
#else
#define TC_WITH_WHISPER 0
#endif

namespace tc {

namespace {

// The model file cannot be fetched from here: the install command does the download and its checks.
class ModelInstallationRequest final : public AssetInstallationRequest {
public:
    explicit ModelInstallationRequest(std::string message) : m_message(std::move(message)) {}
    void install(std::stop_token) override { throw TranscriberError::modelUnavailable(m_message); }

private:
    std::string m_message;
};

// Puts back a missing or damaged voice model with the app's model installer before the run starts. Recognition works
// without it, so a failed install is no error: the run goes on with loudness alone and the engine's notice says so.
// The failure is remembered in failed, so later runs do not wait for another download that cannot succeed either.
class VoiceModelInstallationRequest final : public AssetInstallationRequest {
public:
    VoiceModelInstallationRequest(std::shared_ptr<SpeechModelInstaller> installer, std::string speechModelName,
                                  std::string notice, std::function<void(const std::string& reason)> onFailure)
        : m_installer(std::move(installer)), m_speechModelName(std::move(speechModelName)), m_notice(std::move(notice)),
          m_onFailure(std::move(onFailure))
    {}

    void install(std::stop_token stop) override
    {
        // Shared with the installer's thread, whose callback may still be leaving when this frame is gone.
        struct Wait {
            std::mutex mutex;
            std::condition_variable_any finished;
            bool done = false;
            Expected<void, std::string> outcome;
        };
        const auto wait = std::make_shared<Wait>();
        // The speech model's install brings its voice model with it; the speech model itself is only checked.
        const bool started =
            m_installer->install(m_speechModelName, {}, [wait](const Expected<void, std::string>& outcome) {
                std::lock_guard lock(wait->mutex);
                wait->done = true;
                wait->outcome = outcome;
                wait->finished.notify_all();
            });
        // Another run is installing with it already: this one goes on as things are.
        if (!started) return;
        std::unique_lock lock(wait->mutex);
        if (wait->finished.wait(lock, stop, [&] { return wait->done; })) {
            if (!wait->outcome) m_onFailure(wait->outcome.error());
            return;
        }
        lock.unlock();
        m_installer->cancel();
    }

    std::optional<std::string> notice() const override { return m_notice; }

private:
    std::shared_ptr<SpeechModelInstaller> m_installer;
    std::string m_speechModelName;
    std::string m_notice;
    std::function<void(const std::string& reason)> m_onFailure;
};

constexpr const char* kEngineMissing = "このビルドには音声認識エンジン（whisper.cpp）が組み込まれていません。scripts/"
                                       "setup を実行してビルドし直してください。";

#if TC_WITH_WHISPER
std::string languageOf(const std::string& locale)
{
    const auto dash = locale.find_first_of("-_");
    return dash == std::string::npos ? locale : locale.substr(0, dash);
}

// The named model, located and loaded; otherwise the message that says why not.
Expected<std::shared_ptr<WhisperContext>, std::string> loadModel(SpeechModelManager& models, const std::string& name)
{
    const auto lookup = models.locate(name);
    if (!lookup) return Unexpected{lookup.error()};
    auto loaded = WhisperContext::load(*lookup);
    if (!loaded) return Unexpected{std::string(loaded.error().what())};
    return std::move(loaded).value();
}
#endif

} // namespace

WhisperSpeechRecognitionEngine::WhisperSpeechRecognitionEngine(std::string modelName,
                                                               std::shared_ptr<SpeechModelManager> models,
                                                               WhisperStreamingRecognizer::Settings settings,
                                                               std::shared_ptr<SpeechModelInstaller> voiceInstaller)
    : m_modelName(std::move(modelName)), m_models(models ? std::move(models) : std::make_shared<SpeechModelManager>()),
      m_settings(settings), m_voiceInstaller(std::move(voiceInstaller))
{
    m_settings.segmentation.sampleRate = 16000;
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
#if TC_WITH_WHISPER
    std::vector<std::string> locales;
    for (const auto& code : WhisperContext::languages())
        locales.push_back(localeForLanguage(code));
    return locales;
#else
    // Japanese passes the locale check, so the asset step can say what is missing.
    return {"ja-JP"};
#endif
}

std::unique_ptr<AssetInstallationRequest>
WhisperSpeechRecognitionEngine::assetInstallationRequest(const RecognizerModule&)
{
    if (!TC_WITH_WHISPER) return std::make_unique<ModelInstallationRequest>(kEngineMissing);
    std::string name;
    bool loaded = false;
    {
        std::lock_guard lock(m_mutex);
        name = m_modelName;
        loaded = m_context != nullptr;
    }
    // Weights in memory were checked when they were read; what happens to the file later does not touch them.
    if (!loaded) {
        const auto lookup = m_models->locate(name);
        if (!lookup) return std::make_unique<ModelInstallationRequest>(lookup.error());
    }
    if (!m_settings.useVoiceModel || !m_voiceInstaller || voiceInstallFailure() || m_models->voiceModel())
        return nullptr;
    const auto file = m_models->voiceModelFile();
    if (!file) return nullptr;
    return std::make_unique<VoiceModelInstallationRequest>(
        m_voiceInstaller, name, SpeechModelManager::voiceModelReinstallNotice(*file),
        [failure = m_voiceInstallFailure](const std::string& reason) {
            std::lock_guard lock(failure->mutex);
            failure->reason = reason;
        });
}

std::optional<std::string> WhisperSpeechRecognitionEngine::preparationNotice(const RecognizerModule&)
{
#if !TC_WITH_WHISPER
    return std::nullopt;
#else
    std::string name;
    {
        std::lock_guard lock(m_mutex);
        if (m_context) return std::nullopt;
        name = m_modelName;
    }
    const auto file = m_models->locate(name);
    if (!file) return std::nullopt;
    const bool attentionKnown = WhisperContext::gpuDevice().onGpu() ||
                                EncoderAttentionTrial(*file, WhisperContext::defaultThreads()).remembered();
    if (attentionKnown && measuredSpeed(*file)) return std::nullopt;
    return "このコンピューターで音声認識が速く動く計算方法と、モデルの速さを測っています（初回だけ、数秒かかります）。";
#endif
}

std::shared_ptr<StreamingRecognizer> WhisperSpeechRecognitionEngine::makeRecognizer(const RecognizerModule& module)
{
#if !TC_WITH_WHISPER
    (void)module;
    throw TranscriberError::modelUnavailable(kEngineMissing);
#else
    std::shared_ptr<WhisperContext> context;
    std::shared_ptr<WhisperContext> finalContext;
    std::string name;
    {
        std::lock_guard lock(m_mutex);
        if (!m_context) {
            const auto lookup = m_models->locate(m_modelName);
            if (!lookup) throw TranscriberError::modelUnavailable(lookup.error());
            auto loaded = WhisperContext::load(*lookup);
            if (!loaded) throw std::move(loaded).error();
            m_context = std::move(loaded).value();
        }
        // A GPU that failed in an earlier run has handed its work to the processor for good.
        m_context = m_context->inUse();
        context = m_context;
        if (m_finalContext) finalContext = m_finalContext = m_finalContext->inUse();
        name = m_modelName;
    }
    auto voice = voiceModel(name);
    // Said once: where the model went instead of the GPU, then the voice model's problem.
    std::optional<std::string> notice = context->takeNotice();
    if (finalContext)
        if (auto other = finalContext->takeNotice(); other && !notice) notice = std::move(other);
    if (voice.notice) notice = notice ? *notice + " " + *voice.notice : *voice.notice;
    {
        std::lock_guard lock(m_mutex);
        m_voiceNotice = notice;
    }
    WhisperStreamingRecognizer::Settings settings = m_settings;
    settings.volatileResults = module.volatileResults;
    const std::string language = languageOf(module.locale);
    settings.dropSampledLatinLines = settings.dropSampledLatinLines && language == "ja";
    return std::make_shared<WhisperStreamingRecognizer>(
        context->makeDecoder(language, settings.decoding), settings, std::move(voice.model),
        finalContext ? std::shared_ptr<UtteranceDecoder>(finalContext->makeDecoder(language, settings.decoding))
                     : nullptr);
#endif
}

std::optional<std::string> WhisperSpeechRecognitionEngine::voiceInstallFailure() const
{
    std::lock_guard lock(m_voiceInstallFailure->mutex);
    return m_voiceInstallFailure->reason;
}

std::optional<std::string> WhisperSpeechRecognitionEngine::notice(const RecognizerModule&)
{
    std::lock_guard lock(m_mutex);
    return m_voiceNotice;
}

#if TC_WITH_WHISPER
WhisperSpeechRecognitionEngine::VoiceModel
WhisperSpeechRecognitionEngine::voiceModel(const std::string& speechModelName) const
{
    if (!m_settings.useVoiceModel) return {};
    // A catalogue from before the voice model names none: nothing is missing.
    const auto expected = m_models->voiceModelFile();
    if (!expected) return {};
    // Without it, loudness alone cuts the utterances, as before the model was installed.
    VoiceModel unusable{nullptr,
                        SpeechModelManager::voiceModelMessage(speechModelName, *expected, voiceInstallFailure())};
    const auto file = m_models->voiceModel();
    if (!file) return unusable;
    auto detector = SileroVoiceDetector::load(*file);
    if (!detector) return unusable;
    return {std::move(detector).value(), std::nullopt};
}
#endif

std::string WhisperSpeechRecognitionEngine::modelName() const
{
    std::lock_guard lock(m_mutex);
    return m_modelName;
}

Expected<void, std::string> WhisperSpeechRecognitionEngine::switchModel(const std::string& name)
{
#if !TC_WITH_WHISPER
    (void)name;
    return Unexpected{std::string(kEngineMissing)};
#else
    // Checked and loaded beside the model in use, which is replaced only once the new one is ready.
    auto loaded = loadModel(*m_models, name);
    if (!loaded) return Unexpected{std::move(loaded).error()};
    auto context = std::move(loaded).value();
    std::lock_guard lock(m_mutex);
    m_modelName = name;
    m_context = std::move(context);
    return {};
#endif
}

Expected<void, std::string> WhisperSpeechRecognitionEngine::useFinalModel(const std::string& name)
{
    if (name.empty()) {
        std::lock_guard lock(m_mutex);
        m_finalModelName.clear();
        m_finalContext.reset();
        return {};
    }
#if !TC_WITH_WHISPER
    return Unexpected{std::string(kEngineMissing)};
#else
    {
        std::lock_guard lock(m_mutex);
        if (name == m_finalModelName && m_finalContext) return {};
    }
    auto loaded = loadModel(*m_models, name);
    if (!loaded) return Unexpected{std::move(loaded).error()};
    auto context = std::move(loaded).value();
    std::lock_guard lock(m_mutex);
    m_finalModelName = name;
    m_finalContext = std::move(context);
    return {};
#endif
}

std::string WhisperSpeechRecognitionEngine::finalModelName() const
{
    std::lock_guard lock(m_mutex);
    return m_finalModelName;
}

std::string WhisperSpeechRecognitionEngine::deviceLabel()
{
#if TC_WITH_WHISPER
    return WhisperContext::gpuDevice().label();
#else
    return "CPU";
#endif
}

std::optional<ModelSpeed> WhisperSpeechRecognitionEngine::measuredSpeed(const std::filesystem::path& modelFile)
{
#if TC_WITH_WHISPER
    return WhisperContext::speedTrial(modelFile, WhisperContext::gpuDevice()).remembered();
#else
    (void)modelFile;
    return std::nullopt;
#endif
}

Expected<void, std::string> WhisperSpeechRecognitionEngine::measureSpeed(const std::filesystem::path& modelFile)
{
#if TC_WITH_WHISPER
    if (measuredSpeed(modelFile)) return {};
    // The load measures it, and remembers it for the runs to come.
    if (const auto loaded = WhisperContext::load(modelFile); !loaded)
        return Unexpected{std::string(loaded.error().what())};
    if (measuredSpeed(modelFile)) return {};
    return Unexpected{std::string("音声認識モデルの速さを測れませんでした。しばらくしてからもう一度お試しください。")};
#else
    (void)modelFile;
    return Unexpected{std::string(kEngineMissing)};
#endif
}

int WhisperSpeechRecognitionEngine::decodingThreads()
{
#if TC_WITH_WHISPER
    return WhisperContext::defaultThreads();
#else
    return 0;
#endif
}

} // namespace tc
