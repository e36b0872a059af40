#pragma once

#include <gmock/gmock.h>

namespace tc::test {

// An Expected that succeeded; on a mismatch the failure it holds is printed.
MATCHER(Succeeds, "succeeds")
{
    if (!arg.has_value()) *result_listener << "fails with " << ::testing::PrintToString(arg.error());
    return arg.has_value();
}

// An Expected whose failure matches `matcher`, as gmock's Optional() does for a value.
MATCHER_P(FailsWith, matcher, "fails with a matching failure")
{
    if (arg.has_value()) {
        *result_listener << "succeeds";
        return false;
    }
    return ::testing::ExplainMatchResult(matcher, arg.error(), result_listener);
}

} // namespace tc::test
