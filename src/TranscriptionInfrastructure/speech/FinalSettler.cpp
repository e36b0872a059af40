#include "TranscriptionInfrastructure/speech/FinalSettler.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"

namespace tc {

std::vector<FinalSettler::Step> FinalSettler::steps(const RecognizerWork& work, std::string text)
{
    std::vector<Step> steps;
    if (m_unsureJoin && m_unsureJoin->held.index == work.index && work.heldText.empty()) {
        resolveUnsureJoin(work, text, steps);
        return steps;
    }
    if (text.empty()) text = work.heldText;
    // Decoded together, either part may be left out: the held one, or the rest (the joined text adds nothing).
    if (!work.heldText.empty() &&
        (!RecognizedText::beginsWithMostOf(text, work.heldText) ||
         RecognizedText::comparedLength(text) <= RecognizedText::comparedLength(work.heldText) + 1)) {
        // The rest is decoded on its own before either part settles, so neither is lost.
        m_unsureJoin = UnsureJoin{text, work.heldText, work.heldPart()};
        steps.push_back({Step::Kind::decodeAlone, work.rest(), {}});
        return steps;
    }
    joinedSteps(work, text, steps);
    return steps;
}

void FinalSettler::resolveUnsureJoin(const RecognizerWork& rest, const std::string& restText, std::vector<Step>& steps)
{
    UnsureJoin join = std::move(*m_unsureJoin);
    m_unsureJoin.reset();
    using RecognizedText::comparedLength;
    const std::size_t joined = comparedLength(join.joinedText), held = comparedLength(join.heldText),
                      alone = comparedLength(restText);
    // The rest is in the joined text when it is clearly longer than the held part, or ends as the rest's own reading
    // does: the held part may come back shorter, kana read as kanji ("チューセキリツは" → "出席率は87%でした").
    const bool holdsTheRest =
        joined >= held + (alone + 1) / 2 || RecognizedText::endsWithMostOf(join.joinedText, restText);
    if (joined >= alone + (held + 1) / 2 && holdsTheRest) {
        // The joined text holds clearly more than either part alone: both are in it, one read differently.
        joinedSteps(RecognizerWork::joined(std::move(join.held), join.heldText, rest), join.joinedText, steps);
        return;
    }
    steps.push_back({Step::Kind::settle, std::move(join.held), join.heldText});
    dividedSteps(rest, restText, Step::Kind::settleOrHold, steps);
}

void FinalSettler::joinedSteps(const RecognizerWork& work, const std::string& text, std::vector<Step>& steps) const
{
    // A sentence misheard as unfinished was held and decoded with the next one, which the joined text tells apart
    // ("…500件でした。明日の…"): each gets its own line.
    const auto parts =
        work.heldText.empty()
            ? std::nullopt
            : RecognizedText::splitAtSentenceEndNear(text, RecognizedText::comparedLength(work.heldText));
    if (!parts) {
        dividedSteps(work, text, Step::Kind::settleOrHold, steps);
        return;
    }
    steps.push_back({Step::Kind::settle, work.heldPart(), parts->first});
    dividedSteps(work.rest(), parts->second, Step::Kind::settleOrHold, steps);
}

void FinalSettler::dividedSteps(const RecognizerWork& work, const std::string& text, Step::Kind lastKind,
                                std::vector<Step>& steps) const
{
    // Two sentences with too short a pause between them came as one utterance: each gets its own line and time.
    // Either part may hold more than one.
    const auto division =
        m_settings.divideAtInnerPauses ? work.divisionAtPause(text, m_settings.leadSamples) : std::nullopt;
    if (!division) {
        steps.push_back({lastKind, work, text});
        return;
    }
    const auto [first, second] = work.dividedAt(division->sample, m_settings.sampleRate);
    dividedSteps(first, division->first, Step::Kind::settle, steps);
    dividedSteps(second, division->second, lastKind, steps);
}

} // namespace tc
