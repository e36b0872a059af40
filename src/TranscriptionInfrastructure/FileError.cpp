#include "TranscriptionInfrastructure/FileError.h"

#include <string>

namespace tc {

namespace {

std::string describe(FileError::Kind kind, const std::filesystem::path& file)
{
    switch (kind) {
    case FileError::Kind::cannotOpen:
        return "音声ファイルを開けませんでした（" + file.string() +
               "）。ファイルがあるか、WAV・FLAC・Ogg・Opus・MP3 などの音声ファイルかを確認してください。";
    case FileError::Kind::decodeFailed:
        return "音声ファイルを読み込めませんでした（" + file.string() +
               "）。音声が入っていないか壊れている可能性があります。別のファイルでお試しください。";
    }
    return {};
}

} // namespace

FileError::FileError(Kind kind, std::filesystem::path file)
    : std::runtime_error(describe(kind, file)), m_kind(kind), m_file(std::move(file))
{}

} // namespace tc
