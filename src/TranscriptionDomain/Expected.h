#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tc {

// The failure side of an `Expected`: `return Unexpected{failure};` reads as what it is.
template <class E>
struct Unexpected {
    E error;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

// A value or the expected failure that stands in its place, in the manner of C++23's std::expected (our compilers
// are C++20). Expected failures travel as these; exceptions cross only ports that document them.
template <class T, class E>
class [[nodiscard]] Expected {
public:
    template <class U = T>
        requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::remove_cvref_t<U>, Expected>)
    Expected(U&& value) : m_state(std::in_place_index<0>, std::forward<U>(value))
    {
    }
    template <class G>
    Expected(Unexpected<G> failure) : m_state(std::in_place_index<1>, std::move(failure.error))
    {
    }

    bool has_value() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    // The value; calling these on a failure throws std::bad_variant_access.
    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    template <class U>
    T value_or(U&& fallback) const&
    {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }
    // Equal when both hold equal values or equal failures.
    friend bool operator==(const Expected&, const Expected&) = default;

    // The failure; only on a failure (throws std::bad_variant_access otherwise).
    E& error() & { return std::get<1>(m_state); }
    const E& error() const& { return std::get<1>(m_state); }
    E&& error() && { return std::get<1>(std::move(m_state)); }

private:
    std::variant<T, E> m_state;
};

// Success carries nothing: an outcome that is either done or the failure that stopped it.
template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    Expected() = default;
    template <class G>
    Expected(Unexpected<G> failure) : m_error(std::move(failure.error))
    {
    }

    bool has_value() const noexcept { return !m_error.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }

    // The failure; only on a failure (throws std::bad_optional_access otherwise).
    E& error() & { return m_error.value(); }
    const E& error() const& { return m_error.value(); }
    E&& error() && { return std::move(m_error).value(); }
    // Equal when both are done or both hold equal failures.
    friend bool operator==(const Expected&, const Expected&) = default;

private:
    std::optional<E> m_error;
};

} // namespace tc
