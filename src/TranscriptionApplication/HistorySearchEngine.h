#pragma once

#include "TranscriptionApplication/HistorySearchResults.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tc {

// Searches the history on a thread of its own, newest query only. Thread-safe; no call waits for a search.
// The engine's destructor stops the running search, and no answer starts after it.
class HistorySearchEngine {
public:
    // Gets a query's generation and its results, on the engine's thread; hop to the UI thread from there.
    using ResultHandler = std::function<void(std::uint64_t generation, const HistorySearchResults& results)>;
    // Makes an engine that answers to the handler.
    using Factory = std::function<std::unique_ptr<HistorySearchEngine>(ResultHandler onResults)>;

    virtual ~HistorySearchEngine() = default;

    // Searches these sessions from now on instead of what it held (the history loaded or cleared).
    virtual void replaceAll(const std::vector<TranscriptSession>& sessions) = 0;
    // Adds one line at the end of its session, creating the session when it is new.
    virtual void appendLine(const Uuid& sessionId, Date sessionStartedAt, const FinalizedLine& line) = 0;
    // Searches for the query instead of whatever was asked before; returns its generation, which grows with each
    // call, so answers to an older one can be told apart.
    virtual std::uint64_t submit(std::string query) = 0;
};

} // namespace tc
