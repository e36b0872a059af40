#pragma once

#include "TranscriptionDomain/Expected.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tc {

// Whole-file replacement that a reader or a crash sees either before or after, never half done: the bytes go to
// a temporary file in the same folder, are flushed to disk, and the temporary file is renamed over the target,
// after which the folder is flushed too. Stateless, callable from any thread.
class AtomicFileWriter {
public:
    struct Failure {
        // errno of the step that failed.
        int errorNumber = 0;
    };

    // Replaces `file` with `bytes`; on failure the old file is untouched and no temporary file is left behind.
    // A new file gets `permissions` (less the umask).
    static Expected<void, Failure> write(const std::filesystem::path& file, std::string_view bytes,
                                         mode_t permissions = 0600);

    // A short Japanese description of why a write failed.
    static std::string describe(const Failure& failure);
};

} // namespace tc
