#include "TranscriptionDomain/LiveCaptionPresenter.h"

#include "TranscriptionDomain/BlankText.h"

namespace tc::LiveCaptionPresenter {

LiveCaptionContent content(const std::vector<std::string>& finalized, const std::string& volatileText,
                           std::int64_t maxLines)
{
    if (maxLines < 1) return LiveCaptionContent::empty();
    std::vector<LiveCaptionLine> candidates;
    for (const auto& text : finalized) {
        if (!isBlankText(text)) {
            candidates.push_back({static_cast<std::int64_t>(candidates.size()), text, false});
        }
    }
    if (!isBlankText(volatileText)) {
        candidates.push_back({static_cast<std::int64_t>(candidates.size()), volatileText, true});
    }
    const auto keep = static_cast<std::size_t>(maxLines);
    if (candidates.size() > keep) {
        candidates.erase(candidates.begin(), candidates.end() - static_cast<std::ptrdiff_t>(keep));
    }
    return LiveCaptionContent{std::move(candidates)};
}

std::vector<std::string> lines(const std::vector<std::string>& finalized, const std::string& volatileText,
                               std::int64_t maxLines)
{
    return content(finalized, volatileText, maxLines).texts();
}

} // namespace tc::LiveCaptionPresenter
