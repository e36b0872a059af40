#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// A feature's short label and its one-sentence meaning (used as the tooltip).
struct GlossaryTerm {
    std::string id;
    std::string label;
    std::string meaning;

    friend bool operator==(const GlossaryTerm&, const GlossaryTerm&) = default;
};

struct BetaBadge {
    std::string label;
    std::string note;

    friend bool operator==(const BetaBadge&, const BetaBadge&) = default;
};

// The fixed wording of the window's features, defined once.
namespace DomainGlossary {

const GlossaryTerm& ask();
const GlossaryTerm& review();
const GlossaryTerm& latest();
const BetaBadge& askBeta();
// ask, review, latest.
const std::vector<GlossaryTerm>& all();
// Exact, case-sensitive match on the id.
std::optional<GlossaryTerm> term(std::string_view id);

} // namespace DomainGlossary

} // namespace tc
