#pragma once

#include "TranscriptionDomain/LiveCaptionStyle.h"

#include <vector>

namespace tc {

// Ready-made looks for the caption panel. Each keeps the final text readable against its surroundings and the
// volatile text visibly fainter than the final text.
enum class LiveCaptionPreset { standard, highContrast, yellowText, noBackground };

namespace LiveCaptionPresets {

// Every preset, in the order they are offered.
const std::vector<LiveCaptionPreset>& all();
// The style with the preset's colours, opacities and text edge; font, size, lines and alignment are kept.
LiveCaptionStyle applied(LiveCaptionPreset preset, LiveCaptionStyle style);

} // namespace LiveCaptionPresets

} // namespace tc
