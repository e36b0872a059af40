#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"

#include "TranscriptionApplication/PortFailure.h"
#include "TranscriptionDomain/SpeakerAttribution.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <pthread.h>
#include <stop_token>
#include <thread>
#include <utility>

namespace tc {

// The threads and streams of one start(): a forwarding thread per started member and, with two or more,
// the mixing thread. Its members' state is touched by those threads only; the stopper under m_mutex.
class MixedAudioSource::Run {
public:
    using Member = std::pair<AudioSourceID, AudioFrameStream>;

    Run(std::vector<Member> members, std::vector<std::shared_ptr<AudioSource>> started, LevelCallback onLevel,
        MixOptions options)
        : m_members(std::move(members)), m_started(std::move(started)), m_onLevel(std::move(onLevel)),
          m_options(std::move(options)), m_merged(Channel<AudioFrame>::make()), m_liveForwarders(m_members.size())
    {}

    ~Run() { shutdown(); }

    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    AudioFrameStream launch()
    {
        if (m_members.size() >= 2) {
            m_history = std::make_shared<SourceEnergyHistory>(m_members.size(), m_options.mixer.rate);
            m_mixer = std::make_unique<AudioMixer>(
                m_members.size(), m_options.mixer,
                [merged = m_merged](AudioFrame frame) { merged->yield(std::move(frame)); }, m_history);
        }
        m_merged->onTermination([this] { onMergedEnded(); });
        if (m_members.empty()) {
            m_merged->finish();
            return m_merged;
        }
        for (std::size_t i = 0; i < m_members.size(); ++i)
            m_forwarders.emplace_back([this, i, stop = m_forwardStop.get_token()] { forward(stop, i); });
        if (m_mixer)
            m_mixing = std::jthread([this, stop = m_mixStop.get_token()] {
                pthread_setname_np(pthread_self(), "tc-mix-timer");
                m_mixer->runStallTimer(stop);
            });
        return m_merged;
    }

    // Lets the members' buffered frames through, then ends everything. Not from this run's own threads.
    void shutdown()
    {
        // Each member loop lets its buffered frames through, then ends; the stall timer ends with the last.
        m_forwardStop.request_stop();
        for (auto& forwarder : m_forwarders)
            if (forwarder.joinable()) forwarder.join();
        if (m_mixing.joinable()) m_mixing.join();
        m_merged->finish();
        std::unique_lock lock(m_mutex);
        m_handled.wait(lock, [this] { return m_handlerDone; });
        if (m_stopper.joinable()) m_stopper.join();
    }

    // Whether the merged stream has ended.
    bool ended() const { return m_merged->isEnded(); }
    // Each member's part of the mix; null with a single member. After launch().
    std::shared_ptr<const SourceEnergyHistory> history() const { return m_history; }
    std::vector<AudioSourceID> memberIDs() const
    {
        std::vector<AudioSourceID> ids;
        for (const auto& member : m_members)
            ids.push_back(member.first);
        return ids;
    }

private:
    void forward(std::stop_token stop, std::size_t index)
    {
        pthread_setname_np(pthread_self(), "tc-forward");
        const auto [id, stream] = m_members[index];
        LevelMeter meter(m_options.clock);
        try {
            while (auto frame = stream->next(stop)) {
                const auto level = meter.update(frame->samples);
                if (m_mixer)
                    m_mixer->push(index, *frame);
                else if (!m_merged->yield(std::move(*frame)))
                    break;
                if (level && m_onLevel) m_onLevel(id, *level);
            }
        } catch (...) {
            // A member that broke off ends like one that finished; the others go on. Its error is kept for the end.
            std::lock_guard lock(m_mutex);
            if (!m_memberFailure) m_memberFailure = std::current_exception();
        }
        // The last member's end lets out everything the mixer still holds.
        if (m_mixer) m_mixer->end(index);
        if (m_liveForwarders.fetch_sub(1) == 1) {
            std::exception_ptr failure;
            {
                std::lock_guard lock(m_mutex);
                failure = m_memberFailure;
            }
            // Once every member has ended, a failure among them tells the session why the audio stopped.
            if (failure)
                m_merged->fail(failure);
            else
                m_merged->finish();
        }
    }

    // Runs once, on whichever thread ended the merged stream.
    void onMergedEnded()
    {
        m_forwardStop.request_stop();
        m_mixStop.request_stop();
        std::lock_guard lock(m_mutex);
        if (!m_started.empty())
            m_stopper = std::jthread([started = m_started] {
                for (const auto& source : started)
                    source->stop();
            });
        m_handlerDone = true;
        m_handled.notify_all();
    }

    const std::vector<Member> m_members;
    const std::vector<std::shared_ptr<AudioSource>> m_started;
    const LevelCallback m_onLevel;
    const MixOptions m_options;
    const AudioFrameStream m_merged;
    std::shared_ptr<SourceEnergyHistory> m_history;
    std::unique_ptr<AudioMixer> m_mixer;
    std::atomic<std::size_t> m_liveForwarders;
    std::stop_source m_forwardStop;
    std::stop_source m_mixStop;
    std::vector<std::jthread> m_forwarders;
    std::jthread m_mixing;

    std::mutex m_mutex;
    std::condition_variable m_handled;
    bool m_handlerDone = false;
    std::exception_ptr m_memberFailure;
    std::jthread m_stopper;
};

MixedAudioSource::MixedAudioSource(std::vector<Labeled> sources, DegradedCallback onDegraded, LevelCallback onLevel,
                                   MixOptions options)
    : m_labeled(std::move(sources)), m_onDegraded(std::move(onDegraded)), m_onLevel(std::move(onLevel)),
      m_options(std::move(options))
{}

MixedAudioSource::~MixedAudioSource()
{
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(m_mutex);
        runs = std::move(m_runs);
    }
    runs.clear();
}

AudioFrameStream MixedAudioSource::start()
{
    // Earlier runs whose streams have ended are wound up first: their stopping of the members must be over
    // before the members start again, and starts without stops must not pile threads up.
    std::vector<std::shared_ptr<Run>> ended;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_runs, [&](const std::shared_ptr<Run>& earlier) {
            if (!earlier->ended()) return false;
            ended.push_back(earlier);
            return true;
        });
    }
    for (const auto& earlier : ended)
        earlier->shutdown();

    std::unique_lock lock(m_mutex);
    std::vector<Run::Member> started;
    std::vector<std::shared_ptr<AudioSource>> startedSources;
    std::vector<std::pair<std::string, std::exception_ptr>> failures;
    for (const auto& member : m_labeled) {
        try {
            auto stream = member.source->start();
            started.emplace_back(member.id, std::move(stream));
            startedSources.push_back(member.source);
            m_startedSources.push_back(member.source);
        } catch (const std::exception& error) {
            failures.emplace_back(std::string(degradedPrefix) + PortFailure::shownText(error),
                                  std::current_exception());
        } catch (...) {
            failures.emplace_back(std::string(degradedPrefix) + "原因不明のエラーが発生しました。",
                                  std::current_exception());
        }
    }
    // Every member is gone for now (no sound server): that is the session's to wait out, with one notice of its
    // own, rather than one notice per member at every attempt.
    const auto gone = [](const auto& failure) {
        return PortFailure::recoveryOf(failure.second) == PortFailure::Recovery::waitForReturn;
    };
    if (started.empty() && !failures.empty() && std::all_of(failures.begin(), failures.end(), gone))
        std::rethrow_exception(failures.front().second);
    for (const auto& failure : failures) {
        // Other calls may run while the notice is delivered.
        lock.unlock();
        if (m_onDegraded) m_onDegraded(failure.first);
        lock.lock();
    }
    auto run = std::make_shared<Run>(std::move(started), std::move(startedSources), m_onLevel, m_options);
    auto merged = run->launch();
    m_history = run->history();
    m_historyMembers = run->memberIDs();
    m_runs.push_back(std::move(run));
    return merged;
}

void MixedAudioSource::stop()
{
    std::vector<std::shared_ptr<AudioSource>> sources;
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(m_mutex);
        sources = std::move(m_startedSources);
        m_startedSources.clear();
        runs = std::move(m_runs);
        m_runs.clear();
    }
    for (const auto& source : sources)
        source->stop();
    for (const auto& run : runs)
        run->shutdown();
}

bool MixedAudioSource::isContinuous() const
{
    for (const auto& member : m_labeled)
        if (member.source->isContinuous()) return true;
    return false;
}

std::optional<SpeakerLabel> MixedAudioSource::speakerBetween(double start, double end) const
{
    std::shared_ptr<const SourceEnergyHistory> history;
    std::vector<AudioSourceID> members;
    {
        std::lock_guard lock(m_mutex);
        history = m_history;
        members = m_historyMembers;
    }
    if (!history) return std::nullopt;
    const auto indexOf = [&](AudioSourceID id) -> std::optional<std::size_t> {
        const auto it = std::find(members.begin(), members.end(), id);
        if (it == members.end()) return std::nullopt;
        return static_cast<std::size_t>(it - members.begin());
    };
    const auto microphone = indexOf(AudioSourceID::microphone);
    const auto systemAudio = indexOf(AudioSourceID::systemAudio);
    if (!microphone || !systemAudio) return std::nullopt;
    const auto powers = history->binPowers(start, end);
    return SpeakerAttribution::decide(powers[*microphone], powers[*systemAudio], history->binSeconds());
}

std::size_t MixedAudioSource::startedSourceCount() const
{
    std::lock_guard lock(m_mutex);
    return m_startedSources.size();
}

} // namespace tc
