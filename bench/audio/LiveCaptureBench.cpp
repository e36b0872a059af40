// Live capture against a private PulseAudio server: the CPU that capturing the microphone and the system
// audio together costs (mixing and metering included) per second of audio, and the delay from a sample
// entering the server to its frame leaving the merged stream. Figures go to audio-capture.json.

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/PulseAudioServer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <numbers>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kRate = 48000;
// What a sound card answering our 1024-frame request delivers: 1024 frames every 21.3 ms.
constexpr std::size_t kBlockFrames = 1024;
constexpr auto kBlock = std::chrono::microseconds(1024 * 1000000 / 48000);

// Writes blocks into the microphone pipe in real time, as a sound card would deliver them; a block can
// be marked as a click, whose write time is recorded. Its own CPU time is measured so it can be taken out.
class MicrophoneFeeder {
public:
    MicrophoneFeeder(const tc::test::PulseAudioServer& server, bool tone) : m_server(server), m_tone(tone) {}

    void run(std::chrono::seconds duration, std::stop_token stop)
    {
        const double cpuBefore = tc::bench::threadCpuSeconds();
        std::vector<float> block(kBlockFrames);
        const auto start = Clock::now();
        std::size_t written = 0;
        for (auto next = start; next < start + duration && !stop.stop_requested(); next += kBlock) {
            std::this_thread::sleep_until(next);
            const bool click = m_clickRequested.exchange(false);
            for (std::size_t i = 0; i < kBlockFrames; ++i, ++written)
                block[i] = click    ? 0.9f
                           : m_tone ? 0.3f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 *
                                                                         static_cast<double>(written) / kRate))
                                    : 0.0f;
            if (click) {
                std::lock_guard lock(m_mutex);
                m_clickTimes.push_back(Clock::now());
            }
            m_server.writeToSource("mic", block);
        }
        m_cpuSeconds = tc::bench::threadCpuSeconds() - cpuBefore;
    }

    void requestClick() { m_clickRequested = true; }
    double cpuSeconds() const { return m_cpuSeconds; }
    std::vector<Clock::time_point> clickTimes()
    {
        std::lock_guard lock(m_mutex);
        return m_clickTimes;
    }

private:
    const tc::test::PulseAudioServer& m_server;
    const bool m_tone;
    std::atomic<bool> m_clickRequested{false};
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_clickTimes;
    std::atomic<double> m_cpuSeconds{0};
};

// Plays a quiet tone into the output for the whole run, in a separate process (pacat).
class OutputPlayer {
public:
    OutputPlayer(const tc::test::PulseAudioServer& server, std::chrono::seconds duration)
    {
        std::vector<float> stereo(static_cast<std::size_t>(kRate) * static_cast<std::size_t>(duration.count()) * 2);
        for (std::size_t i = 0; i < stereo.size() / 2; ++i)
            stereo[2 * i] = stereo[2 * i + 1] =
                0.2f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(i) / kRate));
        m_thread = std::jthread([&server, samples = std::move(stereo)] { server.play(samples, 48000, 2); });
    }

private:
    std::jthread m_thread;
};

struct CaptureRun {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    std::size_t mixedSamples = 0;
    std::size_t levelReports = 0;
};

// The bare cost of any PulseAudio client recording both devices: captures with taps that do nothing.
CaptureRun measureBareCaptureCpu(const tc::test::PulseAudioServer& server, std::chrono::seconds duration)
{
    MicrophoneFeeder feeder(server, true);
    // pacat takes about two seconds before its sound reaches the output.
    OutputPlayer player(server, duration + 4s);
    std::this_thread::sleep_for(2500ms);

    CaptureRun run;
    const double cpuBefore = tc::bench::processCpuSeconds();
    const auto wallBefore = Clock::now();
    tc::PulseAudioCapture microphone(tc::PulseAudioCapture::Device::defaultSource, 1024);
    tc::PulseAudioCapture system(tc::PulseAudioCapture::Device::defaultSinkMonitor, 1024);
    std::atomic<std::size_t> frames{0};
    if (!microphone.start([&](const tc::CaptureBuffer& b) { frames += b.frameCount(); }, {}) ||
        !system.start([&](const tc::CaptureBuffer& b) { frames += b.frameCount(); }, {})) {
        std::cerr << "LiveCaptureBench: the test sound server has no microphone or output to record\n";
        std::exit(1);
    }
    std::jthread feeding([&](std::stop_token stop) { feeder.run(duration, stop); });
    feeding.join();
    microphone.stop();
    system.stop();
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    run.cpuSeconds = tc::bench::processCpuSeconds() - cpuBefore - feeder.cpuSeconds();
    run.mixedSamples = frames;
    return run;
}

CaptureRun measureCpu(const tc::test::PulseAudioServer& server, std::chrono::seconds duration)
{
    std::atomic<std::size_t> levels{0};
    auto mixed = std::make_shared<tc::MixedAudioSource>(
        std::vector<tc::MixedAudioSource::Labeled>{
            {tc::AudioSourceID::microphone, std::make_shared<tc::MicrophoneAudioSource>(1024)},
            {tc::AudioSourceID::systemAudio, std::make_shared<tc::SystemAudioSource>()}},
        [](const std::string& notice) { std::cerr << notice << "\n"; }, [&](tc::AudioSourceID, float) { ++levels; });

    MicrophoneFeeder feeder(server, true);
    // pacat takes about two seconds before its sound reaches the output.
    OutputPlayer player(server, duration + 4s);
    std::this_thread::sleep_for(2500ms);

    CaptureRun run;
    const double cpuBefore = tc::bench::processCpuSeconds();
    const auto wallBefore = Clock::now();
    auto stream = mixed->start();
    std::jthread consumer([&] {
        while (auto frame = stream->next())
            run.mixedSamples += frame->samples.size();
    });
    std::jthread feeding([&](std::stop_token stop) { feeder.run(duration, stop); });
    feeding.join();
    mixed->stop();
    consumer.join();
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    // The feeder stands in for the sound card; its writes are not the capture's cost.
    run.cpuSeconds = tc::bench::processCpuSeconds() - cpuBefore - feeder.cpuSeconds();
    run.levelReports = levels;
    return run;
}

std::vector<double> measureLatency(const tc::test::PulseAudioServer& server, int clicks)
{
    auto mixed = std::make_shared<tc::MixedAudioSource>(
        std::vector<tc::MixedAudioSource::Labeled>{
            {tc::AudioSourceID::microphone, std::make_shared<tc::MicrophoneAudioSource>(1024)},
            {tc::AudioSourceID::systemAudio, std::make_shared<tc::SystemAudioSource>()}},
        [](const std::string& notice) { std::cerr << notice << "\n"; }, tc::MixedAudioSource::LevelCallback());
    MicrophoneFeeder feeder(server, false);
    // System audio sounds meanwhile, so the mixer has to line both members up, as it does in use.
    const auto duration = std::chrono::seconds(1 + clicks / 5);
    OutputPlayer player(server, duration + 4s);
    std::this_thread::sleep_for(2500ms);
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;

    auto stream = mixed->start();
    std::jthread consumer([&] {
        bool inClick = false;
        while (auto frame = stream->next()) {
            const auto now = Clock::now();
            const bool loud =
                std::any_of(frame->samples.begin(), frame->samples.end(), [](float s) { return std::fabs(s) > 0.5f; });
            if (loud && !inClick) {
                std::lock_guard lock(mutex);
                arrivals.push_back(now);
            }
            inClick = loud;
        }
    });
    std::jthread feeding([&](std::stop_token stop) { feeder.run(duration, stop); });
    std::this_thread::sleep_for(500ms);
    for (int i = 0; i < clicks; ++i) {
        feeder.requestClick();
        // Uneven spacing, so clicks fall at every phase of the server's and the mixer's blocks.
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + (i * 37) % 60));
    }
    feeding.join();
    std::this_thread::sleep_for(300ms);
    mixed->stop();
    consumer.join();

    const auto sent = feeder.clickTimes();
    std::vector<double> delays;
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < std::min(sent.size(), arrivals.size()); ++i)
        delays.push_back(std::chrono::duration<double, std::milli>(arrivals[i] - sent[i]).count());
    if (sent.size() != arrivals.size())
        std::cerr << "clicks sent " << sent.size() << ", found " << arrivals.size() << "\n";
    return delays;
}

} // namespace

int main()
{
    tc::test::PulseAudioServer server;
    if (!server.isRunning()) {
        std::cerr << "no sound server: " << server.startError() << "\n";
        return 1;
    }

    const auto bare = measureBareCaptureCpu(server, 15s);
    const double barePercent = 100.0 * bare.cpuSeconds / bare.wallSeconds;
    const auto cpu = measureCpu(server, 15s);
    const double cpuPercent = 100.0 * cpu.cpuSeconds / cpu.wallSeconds;
    const auto delays = measureLatency(server, 100);

    nlohmann::json results = {
        {"benchmark", "live capture: microphone + system audio, mixed and metered"},
        {"server", "private pulseaudio, pipe source 48 kHz mono, null sink 48 kHz stereo"},
        {"cpu",
         {{"audio_seconds", cpu.wallSeconds},
          {"cpu_seconds", cpu.cpuSeconds},
          {"percent_of_one_core", cpuPercent},
          {"target_percent", 2.0},
          {"mixed_seconds_out", static_cast<double>(cpu.mixedSamples) / kRate},
          {"level_reports", cpu.levelReports},
          {"baseline_bare_capture_percent_of_one_core", barePercent},
          {"ratio_to_bare_capture", cpuPercent / barePercent}}},
        {"latency_ms",
         {{"clicks", delays.size()},
          {"p50", tc::bench::percentile(delays, 0.5)},
          {"p95", tc::bench::percentile(delays, 0.95)},
          {"max", tc::bench::percentile(delays, 1.0)},
          {"target_p95", 50.0}}},
    };
    const char* overridden = std::getenv("TC_BENCH_RESULTS_DIR");
    const std::filesystem::path dir = overridden && *overridden ? overridden : TC_BENCH_RESULTS_DIR;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "audio-capture.json") << results.dump(2) << "\n";
    std::cout << results.dump(2) << "\n";
    return 0;
}
