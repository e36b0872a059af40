#pragma once

#include <functional>
#include <optional>

namespace tc::test {

// The kind of Error the action throws; nothing when it throws none. Other exceptions pass through.
template <class Error>
auto thrownKind(const std::function<void()>& action) -> std::optional<decltype(std::declval<Error>().kind())>
{
    try {
        action();
    } catch (const Error& error) {
        return error.kind();
    }
    return std::nullopt;
}

} // namespace tc::test
