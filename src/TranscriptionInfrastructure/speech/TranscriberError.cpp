#include "TranscriptionInfrastructure/speech/TranscriberError.h"

namespace tc {

namespace {

std::string describe(TranscriberError::Kind kind, const std::string& payload)
{
    switch (kind) {
    case TranscriberError::Kind::unsupportedLocale:
        return "言語「" + payload +
               "」の音声認識には対応していません。日本語（ja-JP）など対応する言語を指定してください。";
    case TranscriberError::Kind::modelUnavailable: return payload;
    case TranscriberError::Kind::audioFormatUnavailable:
        return "音声認識エンジンが受け付ける音声形式を取得できませんでした。アプリを再起動してください。";
    case TranscriberError::Kind::recognitionFailed:
        return "音声認識エンジンが処理に失敗しました（" + payload + "）。文字起こしをやり直してください。";
    }
    return {};
}

} // namespace

TranscriberError::TranscriberError(Kind kind, std::string payload)
    : PortFailure(describe(kind, payload), kind == Kind::recognitionFailed ? Recovery::restart : Recovery::none),
      m_kind(kind), m_payload(std::move(payload))
{}

TranscriberError TranscriberError::unsupportedLocale(std::string localeIdentifier)
{
    return TranscriberError(Kind::unsupportedLocale, std::move(localeIdentifier));
}

TranscriberError TranscriberError::modelUnavailable(std::string text)
{
    return TranscriberError(Kind::modelUnavailable, std::move(text));
}

TranscriberError TranscriberError::audioFormatUnavailable()
{
    return TranscriberError(Kind::audioFormatUnavailable, {});
}

TranscriberError TranscriberError::recognitionFailed(std::string detail)
{
    return TranscriberError(Kind::recognitionFailed, std::move(detail));
}

} // namespace tc
