#include "TranscriptionInfrastructure/calendar/LibraryOutputCapture.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace tc {

std::mutex LibraryOutputCapture::s_mutex;

LibraryOutputCapture::LibraryOutputCapture()
{
    s_mutex.lock();
    std::fflush(stderr);
    m_buffer = ::memfd_create("libical-messages", MFD_CLOEXEC);
    if (m_buffer >= 0) m_saved = ::dup(STDERR_FILENO);
    if (m_saved >= 0 && ::dup2(m_buffer, STDERR_FILENO) < 0) {
        ::close(m_saved);
        m_saved = -1;
    }
}

LibraryOutputCapture::~LibraryOutputCapture()
{
    if (m_saved >= 0) {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    if (m_buffer >= 0) ::close(m_buffer);
    s_mutex.unlock();
}

std::string LibraryOutputCapture::text(std::size_t limit) const
{
    if (m_saved < 0) return {};
    std::fflush(stderr);
    std::string text(limit, '\0');
    const auto length = ::pread(m_buffer, text.data(), text.size(), 0);
    text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return text;
}

} // namespace tc
