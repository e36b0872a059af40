#pragma once

namespace tc {

// Points in time are seconds since 2001-01-01 00:00:00 UTC; the history file stores them as plain numbers.
using Date = double;

// Seconds between the Unix epoch and 2001-01-01 00:00:00 UTC.
inline constexpr double kReferenceDateUnixOffset = 978307200.0;

// The current wall-clock time as a Date.
Date currentDate();
// Conversions between Date and Unix seconds.
inline constexpr double unixSecondsFromDate(Date date)
{
    return date + kReferenceDateUnixOffset;
}
inline constexpr Date dateFromUnixSeconds(double unixSeconds)
{
    return unixSeconds - kReferenceDateUnixOffset;
}

} // namespace tc
