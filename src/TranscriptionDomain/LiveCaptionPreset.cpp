#include "TranscriptionDomain/LiveCaptionPreset.h"

namespace tc::LiveCaptionPresets {

const std::vector<LiveCaptionPreset>& all()
{
    static const std::vector<LiveCaptionPreset> presets{LiveCaptionPreset::standard, LiveCaptionPreset::highContrast,
                                                        LiveCaptionPreset::yellowText, LiveCaptionPreset::noBackground};
    return presets;
}

LiveCaptionStyle applied(LiveCaptionPreset preset, LiveCaptionStyle style)
{
    const LiveCaptionStyle standard = LiveCaptionStyle::defaultStyle();
    style.backgroundColor = standard.backgroundColor;
    style.backgroundOpacity = standard.backgroundOpacity;
    style.textColor = standard.textColor;
    style.volatileOpacity = standard.volatileOpacity;
    style.textEdge = standard.textEdge;
    switch (preset) {
    case LiveCaptionPreset::standard: break;
    case LiveCaptionPreset::highContrast:
        // An opaque box: nothing behind shows through, and the volatile line can be less faint and still differ.
        style.backgroundOpacity = 1.0;
        style.volatileOpacity = 0.6;
        break;
    case LiveCaptionPreset::yellowText:
        // The yellow of broadcast captions, on a darker box than the standard one.
        style.textColor = {1.0, 1.0, 0.0};
        style.backgroundOpacity = 0.85;
        style.volatileOpacity = 0.55;
        break;
    case LiveCaptionPreset::noBackground:
        style.backgroundOpacity = 0.0;
        style.textEdge = LiveCaptionTextEdge::outline;
        style.volatileOpacity = 0.6;
        break;
    }
    return style;
}

} // namespace tc::LiveCaptionPresets
