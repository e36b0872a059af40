#pragma once

namespace tc {

// The calendar permission as the logic sees it.
enum class CalendarAuthorizationStatus { granted, denied, undetermined, restricted };

} // namespace tc
