#include "TranscriptionDomain/DomainGlossary.h"

namespace tc::DomainGlossary {

const GlossaryTerm& ask()
{
    static const GlossaryTerm value{"ask", "きく", "今の会話について質問すると、根拠の発言つきで答えます。"};
    return value;
}

const GlossaryTerm& review()
{
    static const GlossaryTerm value{"review", "見返し", "会話を止めずに、過去の発言を遡って読み返すことです。"};
    return value;
}

const GlossaryTerm& latest()
{
    static const GlossaryTerm value{"latest", "最新へ", "いちばん新しい発言（最下部）へ戻り、以降の発言に追従します。"};
    return value;
}

const BetaBadge& askBeta()
{
    static const BetaBadge value{"ベータ", "ベータ機能です。オンデバイスAIの回答は精度が安定しないことがあります。"};
    return value;
}

const std::vector<GlossaryTerm>& all()
{
    static const std::vector<GlossaryTerm> value{ask(), review(), latest()};
    return value;
}

std::optional<GlossaryTerm> term(std::string_view id)
{
    for (const auto& candidate : all()) {
        if (candidate.id == id) return candidate;
    }
    return std::nullopt;
}

} // namespace tc::DomainGlossary
