// Device choice against a private PulseAudio server with two inputs and two outputs: how long the settings window
// waits for the device lists, and how soon the captured audio comes from the default input once the chosen
// microphone is unplugged, and from the chosen one again once it is plugged back (from the moment pactl has done
// it to the first frame of the other input). Figures go to device-choice.json.

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"

#include "support/PulseAudioServer.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kBlock = std::chrono::microseconds(1024 * 1000000 / 48000);
// The two inputs carry constant levels, so every frame tells which one it came from.
constexpr float kDefaultLevel = 0.1f;
constexpr float kChosenLevel = 0.5f;

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

nlohmann::json spread(const std::vector<double>& values)
{
    return {
        {"n", values.size()}, {"p50", tc::bench::percentile(values, 0.5)}, {"max", tc::bench::percentile(values, 1)}};
}

// Reads the capture's frames and notes when each change of input shows: the first frame of the other input.
class SwitchTimer {
public:
    void frame(const tc::AudioFrame& frame)
    {
        if (frame.samples.empty()) return;
        const float mean = std::accumulate(frame.samples.begin(), frame.samples.end(), 0.0f) /
                           static_cast<float>(frame.samples.size());
        const bool chosen = mean > (kDefaultLevel + kChosenLevel) / 2;
        std::lock_guard lock(m_mutex);
        if (m_seen && chosen != m_chosen) {
            m_switches.push_back(Clock::now());
            m_changed.notify_all();
        }
        m_seen = true;
        m_chosen = chosen;
    }
    // Waits until the count-th change of input showed; when it did.
    std::optional<Clock::time_point> waitFor(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, 10s, [&] { return m_switches.size() >= count; })) return std::nullopt;
        return m_switches[count - 1];
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_seen = false;
    bool m_chosen = false;
    std::vector<Clock::time_point> m_switches;
};

} // namespace

int main()
{
    constexpr int kListings = 20;
    constexpr int kRounds = 5;
    tc::test::PulseAudioServer::Options options;
    options.sinkDescription = "Built-in Speakers";
    options.extraSinks = {{"headphones", "USB Headphones"}};
    options.pipeSources = {{"mic", 48000, 1, "Built-in Microphone"}, {"headset", 48000, 1, "Headset Microphone"}};
    tc::test::PulseAudioServer server(options);
    if (!server.isRunning()) {
        std::cerr << "no sound server: " << server.startError() << "\n";
        return 1;
    }
    const double loadBefore = tc::bench::loadAverage();

    std::vector<double> listings;
    const tc::PulseAudioDeviceDirectory directory;
    for (int i = 0; i < kListings; ++i) {
        const auto start = Clock::now();
        const bool complete = directory.inputs().size() == 2 && directory.outputs().size() == 2;
        if (complete) listings.push_back(milliseconds(Clock::now() - start));
    }

    // Each input fed at the pace of a sound card; a pipe nobody records is not read, so the default input is fed
    // only while it stands in.
    std::atomic<bool> feedDefault = false;
    std::jthread feeder([&](std::stop_token stop) {
        const std::vector<float> chosen(1024, kChosenLevel);
        const std::vector<float> fallback(1024, kDefaultLevel);
        for (auto next = Clock::now(); !stop.stop_requested(); next += kBlock) {
            std::this_thread::sleep_until(next);
            if (feedDefault)
                server.writeToSource("mic", fallback);
            else
                server.writeToSource("headset", chosen);
        }
    });
    std::atomic<int> notices = 0;
    tc::MicrophoneAudioSource microphone(1024, "headset", [&](const std::string&) { ++notices; });
    auto stream = microphone.start();
    SwitchTimer timer;
    std::jthread reader([&](std::stop_token stop) {
        while (auto frame = stream->next(stop))
            timer.frame(*frame);
    });
    bool allSeen = true;
    std::vector<double> fallbacks;
    std::vector<double> returns;
    for (std::size_t round = 0; round < kRounds && allSeen; ++round) {
        std::this_thread::sleep_for(300ms);
        feedDefault = true;
        server.unloadDevice("headset");
        const auto unplugged = Clock::now();
        const auto fellBack = timer.waitFor(2 * round + 1);
        feedDefault = false;
        server.addPipeSource({"headset", 48000, 1});
        const auto pluggedBack = Clock::now();
        const auto returned = timer.waitFor(2 * round + 2);
        allSeen = fellBack && returned;
        if (allSeen) {
            fallbacks.push_back(milliseconds(*fellBack - unplugged));
            returns.push_back(milliseconds(*returned - pluggedBack));
        }
    }
    microphone.stop();
    reader.request_stop();
    feeder.request_stop();
    if (!allSeen) {
        std::cerr << "a switch of input never showed in the captured audio\n";
        return 1;
    }

    nlohmann::json results = {
        {"benchmark", "device choice: device lists; first frame of the default input after the chosen microphone is "
                      "unplugged, and of the chosen one after it is plugged back"},
        {"server", "private pulseaudio, two pipe sources 48 kHz mono fed in 1024-frame blocks, two null sinks"},
        {"load_average_before", loadBefore},
        {"list_inputs_and_outputs_ms", spread(listings)},
        {"unplugged_to_default_audio_ms", spread(fallbacks)},
        {"plugged_back_to_chosen_audio_ms", spread(returns)},
        {"notices", notices.load()},
        {"rounds", kRounds},
    };
    const char* overridden = std::getenv("TC_BENCH_RESULTS_DIR");
    const std::filesystem::path dir = overridden && *overridden ? overridden : TC_BENCH_RESULTS_DIR;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "device-choice.json") << results.dump(2) << "\n";
    std::cout << results.dump(2) << "\n";
    return 0;
}
