#pragma once

#include "TranscriptionDomain/Uuid.h"

#include <nlohmann/json.hpp>
#include <string>

namespace tc {

// Reads a UUID string in either case; a malformed one is a decoding error like a missing key.
template <class Json>
Uuid uuidFromJson(const Json& value)
{
    const auto parsed = Uuid::fromString(value.template get_ref<const std::string&>());
    if (!parsed) throw nlohmann::json::other_error::create(501, "malformed UUID", &value);
    return *parsed;
}

} // namespace tc
