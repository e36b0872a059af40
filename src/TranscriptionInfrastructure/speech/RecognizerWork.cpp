#include "TranscriptionInfrastructure/speech/RecognizerWork.h"

namespace tc {

RecognizerWork RecognizerWork::joined(RecognizerWork held, std::string heldText, RecognizerWork rest)
{
    RecognizerWork whole = std::move(rest);
    whole.heldSamples = held.samples.size();
    whole.heldEnd = held.end;
    whole.restStart = whole.start;
    whole.start = held.start;
    held.samples.insert(held.samples.end(), whole.samples.begin(), whole.samples.end());
    whole.samples = std::move(held.samples);
    whole.heldText = std::move(heldText);
    return whole;
}

RecognizerWork RecognizerWork::heldPart() const
{
    RecognizerWork part;
    part.kind = kind;
    part.samples.assign(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(heldSamples));
    part.start = start;
    part.end = heldEnd;
    part.index = index;
    return part;
}

RecognizerWork RecognizerWork::rest() const
{
    RecognizerWork part;
    part.kind = kind;
    part.samples.assign(samples.begin() + static_cast<std::ptrdiff_t>(heldSamples), samples.end());
    part.start = restStart;
    part.end = end;
    part.index = index;
    part.pauseSamples = pauseSamples;
    return part;
}

} // namespace tc
