#include "TranscriptionDomain/SpeakerAttribution.h"

#include <gtest/gtest.h>

#include <vector>

namespace tc {
namespace {

constexpr double kBin = 0.05;
constexpr double kSpeech = 1e-3; // -30 dBFS
constexpr double kNoise = 1e-6;  // -60 dBFS

// Bins of one source: `speech` bins at the speech level between `before` and `after` bins of noise.
std::vector<double> bins(int before, int speech, int after, double level = kSpeech)
{
    std::vector<double> out(static_cast<std::size_t>(before), kNoise);
    out.insert(out.end(), static_cast<std::size_t>(speech), level);
    out.insert(out.end(), static_cast<std::size_t>(after), kNoise);
    return out;
}

TEST(SpeakerAttribution, TellsTheSideThatSpokeAndOverlapOnlyWhenBothReallyDid)
{
    using S = SpeakerAttribution;
    // Two seconds at one side, noise at the other.
    EXPECT_EQ(S::decide(bins(4, 40, 4), bins(48, 0, 0), kBin), SpeakerLabel::self);
    EXPECT_EQ(S::decide(bins(48, 0, 0), bins(4, 40, 4), kBin), SpeakerLabel::other);
    // The output played aloud reaches the microphone 20 dB down: still the other side alone.
    EXPECT_EQ(S::decide(bins(4, 40, 4, kSpeech / 100), bins(4, 40, 4), kBin), SpeakerLabel::other);
    // The other side's next turn brushing the end of this one for 0.3 s is no talking at once.
    EXPECT_EQ(S::decide(bins(4, 40, 4), bins(42, 6, 0), kBin), SpeakerLabel::self);
    // Both sides speaking over a whole second of it is.
    EXPECT_EQ(S::decide(bins(4, 40, 4), bins(28, 20, 0), kBin), SpeakerLabel::overlap);
    // Nothing above the noise on either side: no label rather than a guess.
    EXPECT_EQ(S::decide(bins(48, 0, 0), bins(48, 0, 0), kBin), std::nullopt);
    EXPECT_EQ(S::decide({}, {}, kBin), std::nullopt);
}

} // namespace
} // namespace tc
