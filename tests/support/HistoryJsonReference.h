#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/TranscriptSession.h"
#include "TranscriptionDomain/Uuid.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
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

// {"id","text","time"}, all required when reading. "start", "end" and "speaker" are written only when known (a
// time only when finite) and read when present and well typed.
template <class Json>
void to_json(Json& json, const FinalizedLine& line)
{
    json = Json{{"id", line.id.toString()}, {"text", line.text}, {"time", line.time}};
    if (line.start && std::isfinite(*line.start)) json["start"] = *line.start;
    if (line.end && std::isfinite(*line.end)) json["end"] = *line.end;
    if (line.speaker) json["speaker"] = std::string(speakerLabelKey(*line.speaker));
}

template <class Json>
void from_json(const Json& json, FinalizedLine& line)
{
    line.id = uuidFromJson(json.at("id"));
    line.text = json.at("text").template get<std::string>();
    line.time = json.at("time").template get<double>();
    const auto number = [&](const char* key) -> std::optional<double> {
        const auto it = json.find(key);
        if (it == json.end() || !it->is_number()) return std::nullopt;
        return it->template get<double>();
    };
    line.start = number("start");
    line.end = number("end");
    line.speaker.reset();
    if (const auto it = json.find("speaker"); it != json.end() && it->is_string())
        line.speaker = speakerLabelFromKey(it->template get<std::string>());
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
