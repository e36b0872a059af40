#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// The user's saved transcript sessions. Thread-safe; every call may block on the disk, so it belongs off the UI
// thread.
class TranscriptHistory {
public:
    struct SaveError {
        // Japanese, saying what went wrong and what to do.
        std::string message;
    };

    // What load() found when the stored history was damaged.
    struct DamagedHistory {
        // Where the original file now is, unchanged.
        std::filesystem::path keptAsidePath;
        std::size_t recoveredSessions = 0;
        std::size_t droppedLines = 0;
        // Japanese, for the user: where the original went and how much was recovered.
        std::string notice;
    };

    virtual ~TranscriptHistory() = default;

    // The stored sessions; empty when there is nothing readable.
    virtual std::vector<TranscriptSession> load() = 0;
    // What the last load() had to set aside; nothing when the history was whole.
    virtual std::optional<DamagedHistory> damageFoundAtLoad() = 0;
    // Stores these sessions in place of those this history handed out; on failure what was stored stays whole.
    virtual Expected<void, SaveError> save(const std::vector<TranscriptSession>& sessions) = 0;
    // Forgets every stored session.
    virtual void clear() = 0;
};

} // namespace tc
