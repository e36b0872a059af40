#pragma once

#include <cstdint>

namespace tc {

// An opaque RGB colour, components 0 to 1.
struct LiveCaptionColor {
    double red = 0;
    double green = 0;
    double blue = 0;

    static LiveCaptionColor black() { return {0, 0, 0}; }
    static LiveCaptionColor white() { return {1, 1, 1}; }

    friend bool operator==(const LiveCaptionColor&, const LiveCaptionColor&) = default;
};

// How the caption panel looks; sizes in screen points.
struct LiveCaptionStyle {
    LiveCaptionColor backgroundColor = LiveCaptionColor::black();
    double backgroundOpacity = 0.75;
    LiveCaptionColor textColor = LiveCaptionColor::white();
    double volatileOpacity = 0.5;
    double fontSize = 28;
    double minFontSize = 18;
    double maxFontSize = 96;
    double widthFontRatio = 0.04;
    std::int64_t maxLines = 2;
    double horizontalPadding = 20;
    double verticalPadding = 12;
    double cornerRadius = 10;

    static LiveCaptionStyle defaultStyle() { return {}; }

    // width × widthFontRatio, clamped to [minFontSize, maxFontSize].
    double fittedFontSize(double width) const;

    friend bool operator==(const LiveCaptionStyle&, const LiveCaptionStyle&) = default;
};

} // namespace tc
