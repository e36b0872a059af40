#pragma once

#include <cstddef>

namespace tc {

// When the utterance in progress is decoded again for its volatile text: the first time a little speech after the
// pre-roll, then closely while nothing of it is on show, then spaced by what the last refresh cost, so a slow machine
// refreshes less often instead of falling behind. Not thread-safe: the recognizer's mutex guards it.
class RefreshSchedule {
public:
    // The recognizer's own settings hold the defaults and why.
    struct Settings {
        double sampleRate = 0;
        // The first refresh comes this much speech after the pre-roll.
        double preRollSeconds = 0;
        double firstRefreshSeconds = 0;
        // The spacing while nothing is on show, whatever the refreshes cost; 0 spaces them as any other.
        double textlessRefreshSeconds = 0;
        // Otherwise the spacing is costFactor times the last refresh's cost, within these bounds.
        double minimumRefreshSeconds = 0;
        double maximumRefreshSeconds = 0;
        double costFactor = 0;
    };

    explicit RefreshSchedule(Settings settings) : m_settings(settings) {}

    // True when utterance `index`, `samples` long so far, is due a refresh; textShown when its text is on show.
    bool due(std::size_t index, std::size_t samples, bool textShown) const;
    // True while utterance `index` has had no refresh.
    bool firstPending(std::size_t index) const { return m_index != index; }
    // A refresh of the first `samples` of utterance `index` begins.
    void began(std::size_t index, std::size_t samples);
    // The last refresh took this long.
    void cost(double seconds) { m_lastCost = seconds; }

private:
    const Settings m_settings;
    // Utterances count from 1: none has had a refresh yet.
    std::size_t m_index = 0;
    std::size_t m_samples = 0;
    double m_lastCost = 0;
};

} // namespace tc
