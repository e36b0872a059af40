#pragma once

#include <optional>
#include <string_view>

namespace tc {

// The file formats a transcript can be exported to.
enum class TranscriptExportFormat { markdown, srt, webVtt, plainText };

// "md", "srt", "vtt" or "txt": the file extension, also the name the command line takes.
std::string_view exportFormatExtension(TranscriptExportFormat format);
// The format named by its extension (case-sensitive); nothing for any other text.
std::optional<TranscriptExportFormat> exportFormatFromExtension(std::string_view extension);
// The format a file name's extension names in any letter case ("会議.SRT"); nothing for any other name.
std::optional<TranscriptExportFormat> exportFormatOfFileName(std::string_view fileName);

} // namespace tc
