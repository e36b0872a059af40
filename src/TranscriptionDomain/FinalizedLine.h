#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/Uuid.h"

#include "TranscriptionDomain/JsonUuid.h"

#include <nlohmann/json.hpp>
#include <string>

namespace tc {

// One settled line of the transcript as the user sees it and the history keeps it.
struct FinalizedLine {
    Uuid id;
    std::string text;
    // Wall-clock time at which the line was finalized.
    Date time = 0;

    friend bool operator==(const FinalizedLine&, const FinalizedLine&) = default;
};

// {"id","text","time"}, all required when reading; throws nlohmann::json::exception on a missing key or bad UUID.
// Works with nlohmann::json and nlohmann::ordered_json (the history keeps keys in this order).
template <class Json>
void to_json(Json& json, const FinalizedLine& line)
{
    json = Json{{"id", line.id.toString()}, {"text", line.text}, {"time", line.time}};
}

template <class Json>
void from_json(const Json& json, FinalizedLine& line)
{
    line.id = uuidFromJson(json.at("id"));
    line.text = json.at("text").template get<std::string>();
    line.time = json.at("time").template get<double>();
}

} // namespace tc
