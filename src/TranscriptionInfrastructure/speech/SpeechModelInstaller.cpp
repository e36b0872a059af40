#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"

namespace tc {

struct SpeechModelInstaller::State {};

SpeechModelInstaller::SpeechModelInstaller() : m_state(std::make_unique<State>()) {}

SpeechModelInstaller::~SpeechModelInstaller() = default;

std::vector<SpeechModelEntry> SpeechModelInstaller::models() const { return {}; }

bool SpeechModelInstaller::install(const std::string&, ProgressCallback, DoneCallback onDone) {
    if (onDone) {
        onDone(std::string("モデルのインストールはまだ使えません。"));
    }
    return true;
}

void SpeechModelInstaller::cancel() {}

bool SpeechModelInstaller::isInstalling() const { return false; }

std::optional<std::string> SpeechModelInstaller::remove(const std::string&) {
    return std::string("モデルの削除はまだ使えません。");
}

} // namespace tc
