// The history file as the app reads it at every launch: both layouts.
#include "FuzzInput.h"

#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto bytes = tc::fuzz::text(data, size);
    if (const auto sessions = tc::HistoryJsonCodec::decodeStore(bytes))
        // What decodes must encode again: the next save writes it.
        (void)tc::HistoryJsonCodec::encodeStore(*sessions, 5000);
    (void)tc::HistoryJsonCodec::decodeLegacy(bytes);
    return 0;
}
