#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tc::test {

// How often piece occurs in text, without overlaps.
std::size_t occurrences(const std::string& text, const std::string& piece);
// The cues ffprobe reads from a subtitle file, one "start,duration" row in seconds each; nothing when ffprobe is
// not installed.
std::optional<std::string> ffprobeSubtitlePackets(const std::filesystem::path& file);
// The file converted to SubRip by ffmpeg, so both formats can be checked the same way.
std::string ffmpegAsSrt(const std::filesystem::path& file);

} // namespace tc::test
