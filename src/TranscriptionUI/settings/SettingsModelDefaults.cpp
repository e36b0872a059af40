#include "TranscriptionUI/settings/SettingsModel.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

namespace tc {

// Kept apart from the model so that tests wiring their own fakes do not pull in the installer and the devices.
SettingsModel::Dependencies SettingsModel::defaultDependencies()
{
    return defaultDependencies(std::make_shared<SpeechModelInstaller>());
}

SettingsModel::Dependencies SettingsModel::defaultDependencies(std::shared_ptr<SpeechModelInstaller> installer)
{
    const auto paths = AppPaths::current();
    const auto devices = std::make_shared<PulseAudioDeviceDirectory>();
    Dependencies dependencies;
    dependencies.speechModels = [installer] { return installer->models(); };
    dependencies.languageModels = [installer] { return installer->instructionTunedLanguageModels(); };
    dependencies.installSpeechModel = [installer](const std::string& name,
                                                  SpeechModelInstaller::ProgressCallback onProgress,
                                                  SpeechModelInstaller::DoneCallback onDone) {
        return installer->install(name, std::move(onProgress), std::move(onDone));
    };
    dependencies.installSpeechModelFrom = [installer](const std::string& name, const std::filesystem::path& file,
                                                      SpeechModelInstaller::ProgressCallback onProgress,
                                                      SpeechModelInstaller::DoneCallback onDone) {
        return installer->installFrom(name, file, std::move(onProgress), std::move(onDone));
    };
    dependencies.cancelInstall = [installer] { installer->cancel(); };
    dependencies.removeSpeechModel = [installer](const std::string& name) { return installer->remove(name); };
    dependencies.defaultSpeechModel = SpeechModelManager::defaultModelName();
    dependencies.figures = readFigures(paths.catalogueFile().parent_path() / "speech-model-figures.json");
    dependencies.speechDevice = [] { return WhisperSpeechRecognitionEngine::deviceLabel(); };
    // One manager per thread that asks: the main thread reads the speeds, the worker measures.
    dependencies.measuredSpeed = [models = std::make_shared<SpeechModelManager>()](const std::string& name) {
        const auto file = models->locate(name);
        return file ? WhisperSpeechRecognitionEngine::measuredSpeed(*file) : std::nullopt;
    };
    dependencies.measureSpeed =
        [models = std::make_shared<SpeechModelManager>()](const std::string& name) -> Expected<void, std::string> {
        const auto file = models->locate(name);
        if (!file) return Unexpected{file.error()};
        return WhisperSpeechRecognitionEngine::measureSpeed(*file);
    };
    dependencies.microphones = [devices] { return devices->inputs(); };
    dependencies.outputs = [devices] { return devices->outputs(); };
    dependencies.defaultLanguageModelFile = CompositionRoot::installedLanguageModelFile();
    dependencies.historyFolder = paths.historyFile().parent_path();
    return dependencies;
}

} // namespace tc
