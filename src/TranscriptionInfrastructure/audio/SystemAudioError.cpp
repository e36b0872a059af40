#include "TranscriptionInfrastructure/audio/SystemAudioError.h"

#include <string>

namespace tc {

namespace {

std::string describe(SystemAudioError::Kind kind)
{
    switch (kind) {
    case SystemAudioError::Kind::serverUnavailable:
        return "サウンドサーバー（PulseAudio または PipeWire）に接続できませんでした。"
               "サウンドサーバーが動いているか確認してください。";
    case SystemAudioError::Kind::noOutputDevice:
        return "録音できる出力デバイス（スピーカーなど）が見つかりませんでした。"
               "サウンド設定で出力デバイスを選んでください。";
    case SystemAudioError::Kind::captureFailed:
        return "システム音声の録音を開始できませんでした。サウンド設定を確認してから、もう一度開始してください。";
    }
    return {};
}

} // namespace

SystemAudioError::SystemAudioError(Kind kind)
    : PortFailure(describe(kind), kind == Kind::serverUnavailable || kind == Kind::noOutputDevice
                                      ? Recovery::waitForReturn
                                      : Recovery::restart),
      m_kind(kind)
{}

} // namespace tc
