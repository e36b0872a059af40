#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

namespace tc {

// One conditional download of a subscribed calendar's iCalendar feed (libcurl): If-None-Match and
// If-Modified-Since from the last good copy, redirects within https, gzip taken apart on the way, the body
// bounded while it arrives, and the result checked to be a calendar. Stateless apart from its limits; any thread.
class CalendarSubscriptionFetcher {
public:
    struct Request {
        std::string address;
        std::string etag;
        std::string lastModified;
    };
    enum class Outcome { updated, notModified, failed };
    struct Result {
        Outcome outcome = Outcome::failed;
        // The new feed, for updated.
        std::string body;
        std::string etag;
        std::string lastModified;
        // Why it failed, in Japanese, with the address masked; empty otherwise.
        std::string problem;
    };

    // A feed larger than this (after decompression) is refused, as the .ics reader refuses such files.
    static constexpr std::uintmax_t kMaxBytes = 32u * 1024u * 1024u;
    // A whole download may take this long; a stalled one ends sooner (no byte for kStallTimeout).
    static constexpr std::chrono::seconds kTimeout{120};
    static constexpr std::chrono::seconds kStallTimeout{30};

    // allowLoopbackHttp admits http://127.0.0.1 (tests serve feeds there); users' addresses are https only.
    explicit CalendarSubscriptionFetcher(bool allowLoopbackHttp = false, std::uintmax_t maxBytes = kMaxBytes);

    // Downloads the feed; a stop request ends it within a second as failed. Never throws.
    Result fetch(const Request& request, std::stop_token stop = {}) const;

    // The address to fetch: https:// as given, webcal:// (and webcals://) as https://; nothing for anything else.
    std::optional<std::string> normalised(const std::string& address) const;
    // The address as messages show it: scheme and host only ("https://calendar.example.com/…"); the path and
    // query are what grant access.
    static std::string masked(const std::string& address);

private:
    const bool m_allowLoopbackHttp;
    const std::uintmax_t m_maxBytes;
};

} // namespace tc
