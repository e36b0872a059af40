#include "TranscriptionDomain/TranscriptExportFormat.h"

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

} // namespace tc
