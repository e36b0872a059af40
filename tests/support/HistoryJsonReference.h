#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"

#include <nlohmann/json.hpp>
#include <string>

// The history records written and read by the general JSON library: the oracle the hand-written history codec
// is checked against. Found by argument-dependent lookup, so they live beside the records.
namespace tc {

// Reads a UUID string in either case; a malformed one is a decoding error like a missing key.
template <class Json>
Uuid uuidFromJson(const Json& value)
{
    const auto parsed = Uuid::fromString(value.template get_ref<const std::string&>());
    if (!parsed) throw nlohmann::json::other_error::create(501, "malformed UUID", &value);
    return *parsed;
}

// {"id","text","time"}, all required when reading.
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

// {"id","lines","startedAt","endedAt"}; "endedAt" is left out when absent and may be missing when read.
template <class Json>
void to_json(Json& json, const TranscriptSession& session)
{
    Json lines = Json::array();
    for (const auto& line : session.lines)
        lines.push_back(Json(line));
    json = Json{{"id", session.id.toString()}, {"lines", std::move(lines)}, {"startedAt", session.startedAt}};
    if (session.endedAt) json["endedAt"] = *session.endedAt;
}

template <class Json>
void from_json(const Json& json, TranscriptSession& session)
{
    session.id = uuidFromJson(json.at("id"));
    session.lines = json.at("lines").template get<std::vector<FinalizedLine>>();
    session.startedAt = json.at("startedAt").template get<double>();
    session.endedAt.reset();
    if (auto it = json.find("endedAt"); it != json.end() && !it->is_null())
        session.endedAt = it->template get<double>();
}

} // namespace tc
