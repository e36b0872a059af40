#include "TranscriptionUI/presentation/ModelDownloadOffer.h"

#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

namespace tc {

// Kept apart from the offer so that tests wiring their own functions do not need the installer's files.
ModelDownloadOffer::Dependencies
ModelDownloadOffer::defaultDependencies(std::shared_ptr<SpeechModelInstaller> installer)
{
    const auto setup = installer->setup();
    Dependencies dependencies;
    dependencies.isReady = [setup](const std::string& name) {
        return SpeechModelManager(setup.modelsDirectory, setup.catalogue).isVerified(name);
    };
    dependencies.install = [installer](const std::string& name, SpeechModelInstaller::ProgressCallback onProgress,
                                       SpeechModelInstaller::DoneCallback onDone) {
        return installer->install(name, std::move(onProgress), std::move(onDone));
    };
    dependencies.cancel = [installer] { installer->cancel(); };
    dependencies.downloadBytes = [setup](const std::string& name) {
        const ModelCatalogue catalogue(setup.catalogue);
        const auto speech = catalogue.find(ModelCatalogue::Section::speech, name);
        if (!speech || speech->bytes == 0) return std::uint64_t{0};
        const auto voice = catalogue.defaultModel(ModelCatalogue::Section::voice);
        return speech->bytes + (voice ? voice->bytes : 0);
    };
    return dependencies;
}

} // namespace tc
