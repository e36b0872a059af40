#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"

#include "TranscriptionInfrastructure/history/HistoryJsonReader.h"
#include "TranscriptionInfrastructure/history/HistoryJsonSalvager.h"
#include "TranscriptionInfrastructure/history/HistoryJsonWriter.h"

namespace tc {

std::string HistoryJsonCodec::encodeStore(const std::vector<TranscriptSession>& sessions,
                                          std::int64_t maxLinesPerSession)
{
    return HistoryJsonWriter::encodeStore(sessions, maxLinesPerSession);
}

std::optional<std::vector<TranscriptSession>> HistoryJsonCodec::decodeStore(std::string_view bytes)
{
    std::vector<TranscriptSession> sessions;
    HistoryJsonReader reader(bytes);
    if (!reader.readStore(sessions)) return std::nullopt;
    return sessions;
}

std::optional<HistoryJsonCodec::Salvage> HistoryJsonCodec::salvageStore(std::string_view bytes)
{
    Salvage salvage;
    HistoryJsonSalvager reader(bytes);
    if (!reader.salvageStore(salvage.sessions, salvage)) return std::nullopt;
    return salvage;
}

std::optional<std::vector<FinalizedLine>> HistoryJsonCodec::decodeLegacy(std::string_view bytes)
{
    std::vector<FinalizedLine> lines;
    HistoryJsonReader reader(bytes);
    if (!reader.readLegacy(lines)) return std::nullopt;
    return lines;
}

} // namespace tc
