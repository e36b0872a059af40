#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tc {

// A port's failure that says how a session can go on: start again as usual, wait until a device or sound server
// that is gone for now comes back, or stop, because nothing changes without the user (a missing or damaged model,
// an unsupported language). what() is the Japanese description shown to the user.
class PortFailure : public std::runtime_error {
public:
    enum class Recovery { restart, waitForReturn, none };

    PortFailure(const std::string& description, Recovery recovery);

    Recovery recovery() const { return m_recovery; }

    // The advice carried by any error: a PortFailure's own, restart for every other error.
    static Recovery recoveryOf(const std::exception_ptr& error);
    // The text to show for any error: what() when it is one of our Japanese texts; for a library's own (English)
    // words, a Japanese line of ours, the library's words going to stderr only.
    static std::string shownText(const std::exception& error);

private:
    Recovery m_recovery;
};

} // namespace tc
