#include "TranscriptionInfrastructure/audio/FileError.h"

#include <cstdio>
#include <string>

namespace tc {

namespace {

std::string describe(FileError::Kind kind, const std::filesystem::path& file, double seconds)
{
    switch (kind) {
    case FileError::Kind::cannotOpen:
        return "音声ファイルを開けませんでした（" + file.string() +
               "）。ファイルがあるか、WAV・FLAC・Ogg・Opus・MP3 などの音声ファイルかを確認してください。";
    case FileError::Kind::decodeFailed:
        return "音声ファイルを読み込めませんでした（" + file.string() +
               "）。音声が入っていないか壊れている可能性があります。別のファイルでお試しください。";
    case FileError::Kind::notAFile:
        return "「" + file.string() +
               "」は通常のファイルではありません（フォルダー・名前付きパイプ・デバイスなど）。音声ファイルを指定するか"
               "、"
               "標準入力から読むときは「-」を指定してください。";
    case FileError::Kind::truncated: {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", seconds);
        return "音声ファイル（" + file.string() + "）は途中で終わっています。読めたのは先頭の " + text +
               " 秒までで、そこまでを文字起こししました。ファイルが最後までそろっているか確かめてください。";
    }
    case FileError::Kind::standardInputIsTerminal:
        return "「-"
               "」は標準入力から音声を読みますが、標準入力が端末です。音声ファイルをパイプかリダイレクトで渡してくださ"
               "い"
               "（例: transcription-corvane --transcribe - < 音声.flac）。";
    }
    return {};
}

} // namespace

FileError::FileError(Kind kind, std::filesystem::path file, double seconds)
    : std::runtime_error(describe(kind, file, seconds)), m_kind(kind), m_file(std::move(file))
{}

} // namespace tc
