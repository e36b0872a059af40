#pragma once

#include "TranscriptionDomain/LiveCaptionContent.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tc {

// Lays out the last transcript lines and the volatile text as caption lines. Pure; any thread.
namespace LiveCaptionPresenter {

// The last maxLines of the non-blank finalized texts followed by the non-blank volatile text; empty when
// maxLines < 1. Texts are kept as they are (not trimmed).
LiveCaptionContent content(const std::vector<std::string>& finalized, const std::string& volatileText,
                           std::int64_t maxLines);
// The same selection, texts only.
std::vector<std::string> lines(const std::vector<std::string>& finalized, const std::string& volatileText,
                               std::int64_t maxLines);

} // namespace LiveCaptionPresenter

} // namespace tc
