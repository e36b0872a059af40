#pragma once

#include "TranscriptionUI/TranscriptionViewModel.h"
#include "TranscriptionUI/presentation/ModelDownloadOffer.h"
#include "TranscriptionUI/settings/SettingsModel.h"

#include <memory>

namespace tc {

class SpeechModelInstaller;

// The application's adapters behind the presentation objects; the only place that builds them, so the UI layer
// knows the ports alone.
class ApplicationWiring {
public:
    // Permission manager, composition-root calendar, responder and live pipeline (EngineConfig ja-JP), the history
    // store in the user's data directory and its search engine; default settings.
    static TranscriptionViewModel::Dependencies viewModel();
    // The app's installer and catalogue, sharing the installer with whoever else is given it.
    static ModelDownloadOffer::Dependencies modelDownloadOffer(std::shared_ptr<SpeechModelInstaller> installer);
    // The installer (shared with the model download), the sound server's devices, the figures beside the catalogue,
    // the installed language model and the history folder; sessionCount and resetCaptionPosition are the window's.
    static SettingsModel::Dependencies settings(std::shared_ptr<SpeechModelInstaller> installer);
};

} // namespace tc
