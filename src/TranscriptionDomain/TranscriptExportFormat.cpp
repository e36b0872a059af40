#include "TranscriptionDomain/TranscriptExportFormat.h"

#include <string>

namespace tc {

std::string_view exportFormatExtension(TranscriptExportFormat format)
{
    switch (format) {
    case TranscriptExportFormat::markdown: return "md";
    case TranscriptExportFormat::srt: return "srt";
    case TranscriptExportFormat::webVtt: return "vtt";
    case TranscriptExportFormat::plainText: return "txt";
    }
    return {};
}

std::optional<TranscriptExportFormat> exportFormatFromExtension(std::string_view extension)
{
    for (const auto format : {TranscriptExportFormat::markdown, TranscriptExportFormat::srt,
                              TranscriptExportFormat::webVtt, TranscriptExportFormat::plainText})
        if (extension == exportFormatExtension(format)) return format;
    return std::nullopt;
}

std::optional<TranscriptExportFormat> exportFormatOfFileName(std::string_view fileName)
{
    const auto dot = fileName.rfind('.');
    if (dot == fileName.npos || fileName.find('/', dot) != fileName.npos) return std::nullopt;
    std::string extension(fileName.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return exportFormatFromExtension(extension);
}

} // namespace tc
