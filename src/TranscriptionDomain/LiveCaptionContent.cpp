#include "TranscriptionDomain/LiveCaptionContent.h"

namespace tc {

std::vector<std::string> LiveCaptionContent::texts() const
{
    std::vector<std::string> result;
    result.reserve(lines.size());
    for (const auto& line : lines)
        result.push_back(line.text);
    return result;
}

} // namespace tc
