#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tc {

// One caption line; the id is its position among all candidate lines, stable while lines scroll up.
struct LiveCaptionLine {
    std::int64_t id = 0;
    std::string text;
    bool isVolatile = false;

    friend bool operator==(const LiveCaptionLine&, const LiveCaptionLine&) = default;
};

// What the caption panel shows, top to bottom.
struct LiveCaptionContent {
    std::vector<LiveCaptionLine> lines;

    static LiveCaptionContent empty() { return {}; }
    bool isEmpty() const { return lines.empty(); }
    std::vector<std::string> texts() const;

    friend bool operator==(const LiveCaptionContent&, const LiveCaptionContent&) = default;
};

} // namespace tc
