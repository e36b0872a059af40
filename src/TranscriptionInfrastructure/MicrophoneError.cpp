#include "TranscriptionInfrastructure/MicrophoneError.h"

#include <string>

namespace tc {

namespace {

std::string describe(MicrophoneError::Kind kind)
{
    switch (kind) {
    case MicrophoneError::Kind::serverUnavailable:
        return "サウンドサーバー（PulseAudio または PipeWire）に接続できませんでした。"
               "サウンドサーバーが動いているか確認してから、もう一度開始してください。";
    case MicrophoneError::Kind::noInputDevice:
        return "使用できるマイクが見つかりませんでした。"
               "マイクを接続するか、サウンド設定で入力デバイスを選んでから、もう一度開始してください。";
    case MicrophoneError::Kind::captureFailed:
        return "マイクの録音を開始できませんでした。サウンド設定を確認してから、もう一度開始してください。";
    }
    return {};
}

} // namespace

MicrophoneError::MicrophoneError(Kind kind) : std::runtime_error(describe(kind)), m_kind(kind) {}

} // namespace tc
