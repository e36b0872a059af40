#include "TranscriptionInfrastructure/SystemAudioError.h"

#include <string>

namespace tc {

namespace {

std::string describe(SystemAudioError::Kind kind)
{
    switch (kind) {
    case SystemAudioError::Kind::serverUnavailable:
        return "サウンドサーバー（PulseAudio または PipeWire）に接続できませんでした。"
               "サウンドサーバーが動いているか確認してから、もう一度開始してください。";
    case SystemAudioError::Kind::noOutputDevice:
        return "録音できる出力デバイス（スピーカーなど）が見つかりませんでした。"
               "サウンド設定で出力デバイスを選んでから、もう一度開始してください。";
    case SystemAudioError::Kind::captureFailed:
        return "システム音声の録音を開始できませんでした。サウンド設定を確認してから、もう一度開始してください。";
    }
    return {};
}

} // namespace

SystemAudioError::SystemAudioError(Kind kind) : std::runtime_error(describe(kind)), m_kind(kind) {}

} // namespace tc
