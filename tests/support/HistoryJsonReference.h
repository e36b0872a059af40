#pragma once

#include "TranscriptionDomain/TranscriptSession.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// The history records written and read by the general JSON library: the oracle the hand-written history codec
// is checked against. Found by argument-dependent lookup, so they live beside the records.
namespace tc {

// {"id","text","time"}, then "start" and "end" when known and finite and "speaker" when known.
template <class Json>
void to_json(Json& json, const FinalizedLine& line)
{
    json = Json{{"id", line.id.toString()}, {"text", line.text}, {"time", line.time}};
    if (line.start && std::isfinite(*line.start)) json["start"] = *line.start;
    if (line.end && std::isfinite(*line.end)) json["end"] = *line.end;
    if (line.speaker) json["speaker"] = std::string(speakerLabelKey(*line.speaker));
}

// {"id","lines","startedAt"}, then "endedAt" when known.
template <class Json>
void to_json(Json& json, const TranscriptSession& session)
{
    json = Json{{"id", session.id.toString()}, {"lines", session.lines}, {"startedAt", session.startedAt}};
    if (session.endedAt) json["endedAt"] = *session.endedAt;
}

// The keys written above; those written only when known are read only when present and well typed. A malformed
// UUID is a decoding error like a missing key.
inline Uuid uuidFromJson(const nlohmann::json& value)
{
    if (const auto id = Uuid::fromString(value.get<std::string>())) return *id;
    throw nlohmann::json::other_error::create(501, "malformed UUID", &value);
}

inline void from_json(const nlohmann::json& json, FinalizedLine& line)
{
    line = {uuidFromJson(json.at("id")), json.at("text").get<std::string>(), json.at("time").get<double>()};
    if (const auto it = json.find("start"); it != json.end() && it->is_number()) line.start = it->get<double>();
    if (const auto it = json.find("end"); it != json.end() && it->is_number()) line.end = it->get<double>();
    if (const auto it = json.find("speaker"); it != json.end() && it->is_string())
        line.speaker = speakerLabelFromKey(it->get<std::string>());
}

inline void from_json(const nlohmann::json& json, TranscriptSession& session)
{
    session = {uuidFromJson(json.at("id")), json.at("lines").get<std::vector<FinalizedLine>>(),
               json.at("startedAt").get<double>(), std::nullopt};
    if (const auto it = json.find("endedAt"); it != json.end() && !it->is_null()) session.endedAt = it->get<double>();
}

} // namespace tc
