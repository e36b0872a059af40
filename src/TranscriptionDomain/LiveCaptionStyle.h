#pragma once

#include <cstdint>
#include <string>

namespace tc {

// An opaque RGB colour, components 0 to 1 (sRGB).
struct LiveCaptionColor {
    double red = 0;
    double green = 0;
    double blue = 0;

    static LiveCaptionColor black() { return {0, 0, 0}; }
    static LiveCaptionColor white() { return {1, 1, 1}; }

    // Relative luminance as the web's contrast rules define it (linearised sRGB), 0 to 1.
    double relativeLuminance() const;
    // (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
    static double contrastRatio(const LiveCaptionColor& a, const LiveCaptionColor& b);
    // a painted at opacity `amount` over b, component by component.
    static LiveCaptionColor over(const LiveCaptionColor& a, double amount, const LiveCaptionColor& b);

    friend bool operator==(const LiveCaptionColor&, const LiveCaptionColor&) = default;
};

// What sets the text off from whatever is behind it when there is little or no background.
enum class LiveCaptionTextEdge { none, outline, shadow };

enum class LiveCaptionAlignment { left, center, right };

// A colour with the opacity it is painted at.
struct LiveCaptionInk {
    LiveCaptionColor color;
    double opacity = 1;

    friend bool operator==(const LiveCaptionInk&, const LiveCaptionInk&) = default;
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
    // Empty: the desktop's own interface font.
    std::string fontFamily;
    LiveCaptionTextEdge textEdge = LiveCaptionTextEdge::none;
    // Where the lines sit in the panel and how each is aligned.
    LiveCaptionAlignment alignment = LiveCaptionAlignment::center;

    static LiveCaptionStyle defaultStyle() { return {}; }

    // width × widthFontRatio, clamped to [minFontSize, maxFontSize].
    double fittedFontSize(double width) const;
    // The outline's or shadow's colour: the background colour, or black or white (whichever stands out more)
    // when the background colour is too close to the text to set it off.
    LiveCaptionColor edgeColor() const;
    // The text of a final line in full; a volatile line at volatileOpacity. With an edge the volatile text is
    // blended into the edge colour instead of letting the picture behind show through its letters.
    LiveCaptionInk textInk(bool isVolatile) const;

    friend bool operator==(const LiveCaptionStyle&, const LiveCaptionStyle&) = default;
};

} // namespace tc
