#include "TranscriptionDomain/LiveCaptionStyle.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

double linear(double component)
{
    const double c = std::clamp(component, 0.0, 1.0);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Below this an edge in the background colour would hardly show against the text.
constexpr double kMinimumEdgeContrast = 3.0;

} // namespace

double LiveCaptionColor::relativeLuminance() const
{
    return 0.2126 * linear(red) + 0.7152 * linear(green) + 0.0722 * linear(blue);
}

double LiveCaptionColor::contrastRatio(const LiveCaptionColor& a, const LiveCaptionColor& b)
{
    const double la = a.relativeLuminance();
    const double lb = b.relativeLuminance();
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

LiveCaptionColor LiveCaptionColor::over(const LiveCaptionColor& a, double amount, const LiveCaptionColor& b)
{
    const double t = std::clamp(amount, 0.0, 1.0);
    return {a.red * t + b.red * (1 - t), a.green * t + b.green * (1 - t), a.blue * t + b.blue * (1 - t)};
}

double LiveCaptionStyle::fittedFontSize(double width) const
{
    const double scaled = width * widthFontRatio;
    const double atLeastMin = minFontSize <= scaled ? scaled : minFontSize;
    return atLeastMin < maxFontSize ? atLeastMin : maxFontSize;
}

LiveCaptionColor LiveCaptionStyle::edgeColor() const
{
    if (LiveCaptionColor::contrastRatio(backgroundColor, textColor) >= kMinimumEdgeContrast) return backgroundColor;
    const auto black = LiveCaptionColor::black();
    const auto white = LiveCaptionColor::white();
    return LiveCaptionColor::contrastRatio(black, textColor) >= LiveCaptionColor::contrastRatio(white, textColor)
               ? black
               : white;
}

LiveCaptionInk LiveCaptionStyle::textInk(bool isVolatile) const
{
    if (!isVolatile) return {textColor, 1.0};
    if (textEdge == LiveCaptionTextEdge::none) return {textColor, volatileOpacity};
    return {LiveCaptionColor::over(textColor, volatileOpacity, edgeColor()), 1.0};
}

} // namespace tc
