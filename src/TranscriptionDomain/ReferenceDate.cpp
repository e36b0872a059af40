#include "TranscriptionDomain/ReferenceDate.h"

#include <chrono>

namespace tc {

Date currentDate()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return dateFromUnixSeconds(std::chrono::duration<double>(now).count());
}

} // namespace tc
