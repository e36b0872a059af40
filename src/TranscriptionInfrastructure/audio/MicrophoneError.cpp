#include "TranscriptionInfrastructure/audio/MicrophoneError.h"

#include <string>

namespace tc {

namespace {

std::string describe(MicrophoneError::Kind kind)
{
    switch (kind) {
    case MicrophoneError::Kind::serverUnavailable:
        return "サウンドサーバー（PulseAudio または PipeWire）に接続できませんでした。"
               "サウンドサーバーが動いているか確認してください。";
    case MicrophoneError::Kind::noInputDevice:
        return "使用できるマイクが見つかりませんでした。"
               "マイクを接続するか、サウンド設定で入力デバイスを選んでください。";
    case MicrophoneError::Kind::captureFailed:
        return "マイクの録音を開始できませんでした。サウンド設定を確認してから、もう一度開始してください。";
    }
    return {};
}

} // namespace

MicrophoneError::MicrophoneError(Kind kind)
    : PortFailure(describe(kind), kind == Kind::serverUnavailable || kind == Kind::noInputDevice
                                      ? Recovery::waitForReturn
                                      : Recovery::restart),
      m_kind(kind)
{}

} // namespace tc
