#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tc {

// A 128-bit identifier, written in canonical upper-case text and read in either case.
class Uuid {
public:
    Uuid() = default;
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes);

    // A new random version-4 identifier.
    static Uuid random();
    // Parses the 8-4-4-4-12 hexadecimal form in either case; nothing for any other text.
    static std::optional<Uuid> fromString(std::string_view text);

    // The 36-character upper-case form.
    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return m_bytes; }

    friend bool operator==(const Uuid&, const Uuid&) = default;
    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

} // namespace tc

template <>
struct std::hash<tc::Uuid> {
    std::size_t operator()(const tc::Uuid& id) const noexcept;
};
