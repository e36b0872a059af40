#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tc {

// Seconds one model takes here for the two decodings live captions are made of.
struct ModelSpeed {
    // A refresh of the volatile text over 3 s of speech.
    double refreshSeconds = 0;
    // The final of a 5 s sentence.
    double finalSeconds = 0;
    friend bool operator==(const ModelSpeed&, const ModelSpeed&) = default;
};

// Which installed model suits this machine: the most accurate one whose measured speed keeps the latency targets
// for final lines (p50 1.0 s, p95 1.6 s after the voice ends) and leaves refreshes of the volatile text affordable;
// where a more accurate model keeps the final targets but not the refreshes, two passes (the fast model for the
// volatile text, the accurate one for finals). Pure logic.
class ModelAdvisor {
public:
    // A final's first try starts this far into the pause after the voice.
    static constexpr double finalLeadSeconds = 0.3;
    static constexpr double finalTargetP50 = 1.0;
    static constexpr double finalTargetP95 = 1.6;
    // A long sentence (10 s) costs about twice the typical one (5 s): decoding cost follows the audio.
    static constexpr double longSentenceFactor = 2.0;
    // Refreshes follow each other at 1.5 times their cost at the soonest, so the volatile text lags the voice by
    // 2.5 times a refresh's cost: at most this keeps it within a second.
    static constexpr double refreshBudgetSeconds = 0.4;

    struct Candidate {
        std::string name;
        // Nothing while unmeasured: such a model is neither advised nor advised against.
        std::optional<ModelSpeed> speed;
    };

    enum class Verdict { recommended, finalsOnly, tooSlow, unmeasured, affordable };

    struct Assessment {
        std::string name;
        Verdict verdict = Verdict::unmeasured;
        // "5 秒の発話を 0.4 秒で処理", empty while unmeasured.
        std::string speedText;
    };

    struct Advice {
        // The model to use alone, or for the volatile text when finalModel is set; empty when nothing is measured.
        std::string recommended;
        // Two passes: the more accurate model for finals.
        std::optional<std::string> finalModel;
        // Why, in Japanese ("このPCでは small が 5 秒の発話を 1.4 秒で処理：推奨").
        std::string reason;
        // Every candidate, in the order given.
        std::vector<Assessment> models;
    };

    // Assesses the candidates; the order of accuracy is accuracyRank's.
    static Advice advise(const std::vector<Candidate>& candidates);
    // Higher is more accurate, by the published Japanese error rates of each size (tiny < base < small < medium <
    // large-v3-turbo < large-v2 < large-v3) and, within a size, full precision above q8_0 above q5.
    static int accuracyRank(const std::string& name);
    static bool keepsFinalTargets(const ModelSpeed& speed);
    static bool keepsRefreshes(const ModelSpeed& speed);
    // "5 秒の発話を 1.4 秒で処理"
    static std::string speedText(const ModelSpeed& speed);
    // "推奨", "確定行のみ（2 段階）", ... for the settings.
    static std::string verdictText(Verdict verdict);
};

} // namespace tc
