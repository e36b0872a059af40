#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/Uuid.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace tc {

// One recording session in the history.
struct TranscriptSession {
    Uuid id;
    std::vector<FinalizedLine> lines;
    Date startedAt = 0;
    // Absent while the session runs or when no end was recorded.
    std::optional<Date> endedAt;

    bool hasContent() const { return !lines.empty(); }

    friend bool operator==(const TranscriptSession&, const TranscriptSession&) = default;
};

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
