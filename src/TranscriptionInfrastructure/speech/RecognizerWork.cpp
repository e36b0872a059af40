#include "TranscriptionInfrastructure/speech/RecognizerWork.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"

#include <algorithm>
#include <cmath>

namespace tc {

namespace {

// Characters each line of a divided final holds at least.
constexpr std::size_t kShortestDivided = 8;

// The pauses that lie within [from, to), counted from `from`.
std::vector<InnerPause> pausesWithin(const std::vector<InnerPause>& pauses, std::size_t from, std::size_t to)
{
    std::vector<InnerPause> within;
    for (const InnerPause& pause : pauses)
        if (pause.at >= from && pause.at + pause.samples <= to) within.push_back({pause.at - from, pause.samples});
    return within;
}

// The samples [from, to) of `work` as a work of their own, with the same kind and index, on [partStart, partEnd).
RecognizerWork part(const RecognizerWork& work, std::size_t from, std::size_t to, double partStart, double partEnd)
{
    RecognizerWork piece;
    piece.kind = work.kind;
    piece.index = work.index;
    piece.samples.assign(work.samples.begin() + static_cast<std::ptrdiff_t>(from),
                         work.samples.begin() + static_cast<std::ptrdiff_t>(to));
    piece.start = partStart;
    piece.end = partEnd;
    piece.innerPauses = pausesWithin(work.innerPauses, from, to);
    return piece;
}

} // namespace

RecognizerWork RecognizerWork::finalOf(SegmentedUtterance utterance)
{
    RecognizerWork work;
    work.kind = Kind::final;
    work.samples = std::move(utterance.samples);
    work.start = utterance.start;
    work.end = utterance.end;
    work.index = utterance.index;
    work.pauseSamples = utterance.pauseSamples;
    work.innerPauses = std::move(utterance.innerPauses);
    return work;
}

RecognizerWork RecognizerWork::joined(RecognizerWork held, std::string heldText, RecognizerWork rest)
{
    RecognizerWork whole = std::move(rest);
    whole.heldSamples = held.samples.size();
    whole.heldEnd = held.end;
    whole.restStart = whole.start;
    whole.start = held.start;
    for (InnerPause& pause : whole.innerPauses)
        pause.at += whole.heldSamples;
    whole.innerPauses.insert(whole.innerPauses.begin(), held.innerPauses.begin(), held.innerPauses.end());
    held.samples.insert(held.samples.end(), whole.samples.begin(), whole.samples.end());
    whole.samples = std::move(held.samples);
    whole.heldText = std::move(heldText);
    return whole;
}

RecognizerWork RecognizerWork::heldPart() const
{
    return part(*this, 0, heldSamples, start, heldEnd);
}

RecognizerWork RecognizerWork::rest() const
{
    RecognizerWork after = part(*this, heldSamples, samples.size(), restStart, end);
    after.pauseSamples = pauseSamples;
    return after;
}

std::optional<RecognizerWork::Division> RecognizerWork::divisionAtPause(std::string_view text,
                                                                        std::size_t leadSamples) const
{
    const std::size_t speechEnd = samples.size() - std::min(samples.size(), pauseSamples);
    if (!heldText.empty() || speechEnd <= leadSamples) return std::nullopt;
    const std::size_t total = RecognizedText::comparedLength(text);
    // Speech does not keep one pace: characters and time line up only roughly.
    const std::size_t tolerance = std::max<std::size_t>(3, total / 5);
    std::optional<Division> best;
    std::size_t bestDistance = 0;
    for (const InnerPause& pause : innerPauses) {
        const std::size_t middle = pause.middle();
        if (middle <= leadSamples || middle >= speechEnd) continue;
        const double share = static_cast<double>(middle - leadSamples) / static_cast<double>(speechEnd - leadSamples);
        const auto expected = static_cast<std::size_t>(std::lround(share * static_cast<double>(total)));
        // Over a long utterance the decoder often leaves the full stops out.
        auto parts = RecognizedText::splitAtSentenceEndNear(text, expected, true);
        if (!parts) return std::nullopt;
        const std::size_t before = RecognizedText::comparedLength(parts->first);
        // The decoder closes a short clause at a comma pause with a full stop too ("いいですね。それで進めましょう。"):
        // one line, as the speaker meant it.
        if (before < kShortestDivided || total - before < kShortestDivided) continue;
        const std::size_t distance = before > expected ? before - expected : expected - before;
        if (distance > tolerance || (best && distance >= bestDistance)) continue;
        best = Division{std::move(parts->first), std::move(parts->second), middle};
        bestDistance = distance;
    }
    return best;
}

std::pair<RecognizerWork, RecognizerWork> RecognizerWork::dividedAt(std::size_t sample, double sampleRate) const
{
    sample = std::min(sample, samples.size());
    const double at = start + static_cast<double>(sample) / sampleRate;
    RecognizerWork second = part(*this, sample, samples.size(), at, end);
    second.pauseSamples = pauseSamples;
    return {part(*this, 0, sample, start, at), std::move(second)};
}

} // namespace tc
