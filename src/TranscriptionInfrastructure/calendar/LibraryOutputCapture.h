#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace tc {

// Sends what libical prints to stderr (it warns there about malformed files) into a buffer for the time of a parse
// or query. The redirection is process-wide, so one capture runs at a time.
class LibraryOutputCapture {
public:
    // Starts capturing; waits while another capture runs.
    LibraryOutputCapture();
    // Gives stderr back.
    ~LibraryOutputCapture();
    LibraryOutputCapture(const LibraryOutputCapture&) = delete;
    LibraryOutputCapture& operator=(const LibraryOutputCapture&) = delete;

    // What was written so far, at most `limit` bytes of it.
    std::string text(std::size_t limit) const;

private:
    static std::mutex s_mutex;
    int m_buffer = -1;
    int m_saved = -1;
};

} // namespace tc
