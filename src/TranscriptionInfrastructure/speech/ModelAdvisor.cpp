#include "TranscriptionInfrastructure/speech/ModelAdvisor.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace tc {

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

int ModelAdvisor::accuracyRank(const std::string& name)
{
    // Longest names first: "large-v3-turbo" before "large-v3".
    static const std::pair<const char*, int> sizes[] = {
        {"large-v3-turbo", 50}, {"large-v3", 70}, {"large-v2", 60}, {"large-v1", 45}, {"kotoba-whisper", 65},
        {"medium", 40},         {"small", 30},    {"base", 20},     {"tiny", 10},
    };
    int rank = 0;
    for (const auto& [prefix, value] : sizes) {
        if (startsWith(name, prefix)) {
            rank = value;
            break;
        }
    }
    // Quantised weights lose a little: q8_0 next to nothing, q5 more.
    if (name.find("-q8") != std::string::npos) return rank - 1;
    if (name.find("-q5") != std::string::npos || name.find("-q4") != std::string::npos) return rank - 2;
    return rank;
}

bool ModelAdvisor::keepsFinalTargets(const ModelSpeed& speed)
{
    return finalLeadSeconds + speed.finalSeconds <= finalTargetP50 &&
           finalLeadSeconds + speed.finalSeconds * longSentenceFactor <= finalTargetP95;
}

bool ModelAdvisor::keepsRefreshes(const ModelSpeed& speed)
{
    return speed.refreshSeconds <= refreshBudgetSeconds;
}

std::string ModelAdvisor::speedText(const ModelSpeed& speed)
{
    return "5 秒の発話を " + seconds(speed.finalSeconds) + " 秒で処理";
}

std::string ModelAdvisor::verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::recommended: return "推奨";
    case Verdict::affordable: return "使えます";
    case Verdict::finalsOnly: return "確定行のみ（2 段階）";
    case Verdict::tooSlow: return "このPCには重すぎます";
    case Verdict::unmeasured: return "未測定";
    }
    return {};
}

ModelAdvisor::Advice ModelAdvisor::advise(const std::vector<Candidate>& candidates)
{
    Advice advice;
    const Candidate* best = nullptr;       // keeps both
    const Candidate* bestFinals = nullptr; // keeps the final targets
    const Candidate* fastest = nullptr;
    for (const auto& candidate : candidates) {
        if (!candidate.speed) continue;
        const auto more = [&](const Candidate* than) {
            return !than || accuracyRank(candidate.name) > accuracyRank(than->name);
        };
        if (keepsFinalTargets(*candidate.speed) && keepsRefreshes(*candidate.speed) && more(best)) best = &candidate;
        if (keepsFinalTargets(*candidate.speed) && more(bestFinals)) bestFinals = &candidate;
        if (!fastest || candidate.speed->finalSeconds < fastest->speed->finalSeconds) fastest = &candidate;
    }

    if (best) {
        advice.recommended = best->name;
        advice.reason = "このPCでは " + best->name + " が " + speedText(*best->speed) + "：推奨";
        if (bestFinals && accuracyRank(bestFinals->name) > accuracyRank(best->name)) {
            advice.finalModel = bestFinals->name;
            advice.reason += "。" + bestFinals->name + " は " + speedText(*bestFinals->speed) +
                             "：途中の文字には重いものの確定行には間に合うため、2 段階（途中は " + best->name +
                             "、確定行は " + bestFinals->name + "）をおすすめします";
        }
    } else if (fastest) {
        // Nothing keeps the targets: the quickest at least lags least.
        advice.recommended = fastest->name;
        advice.reason = "このPCではどのモデルも目標（発話の終わりから 1 秒で確定）に届きません。最も速い " +
                        fastest->name + " は " + speedText(*fastest->speed) + "：推奨";
    }

    for (const auto& candidate : candidates) {
        Assessment assessment{candidate.name, Verdict::unmeasured, {}};
        if (candidate.speed) {
            assessment.speedText = speedText(*candidate.speed);
            if (candidate.name == advice.recommended)
                assessment.verdict = Verdict::recommended;
            else if (advice.finalModel && candidate.name == *advice.finalModel)
                assessment.verdict = Verdict::finalsOnly;
            else if (keepsFinalTargets(*candidate.speed) && keepsRefreshes(*candidate.speed))
                assessment.verdict = Verdict::affordable;
            else if (keepsFinalTargets(*candidate.speed))
                assessment.verdict = Verdict::finalsOnly;
            else
                assessment.verdict = Verdict::tooSlow;
        }
        advice.models.push_back(std::move(assessment));
    }
    return advice;
}

} // namespace tc
