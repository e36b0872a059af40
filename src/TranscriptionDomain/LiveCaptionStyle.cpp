#include "TranscriptionDomain/LiveCaptionStyle.h"

namespace tc {

double LiveCaptionStyle::fittedFontSize(double width) const
{
    const double scaled = width * widthFontRatio;
    const double atLeastMin = minFontSize <= scaled ? scaled : minFontSize;
    return atLeastMin < maxFontSize ? atLeastMin : maxFontSize;
}

} // namespace tc
