#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"

#include "TranscriptionInfrastructure/audio/PulseAudioMainLoop.h"

#include <chrono>

namespace tc {

namespace {

using LoopLock = PulseAudioMainLoop::Lock;
using Deadline = PulseAudioMainLoop::Deadline;

constexpr auto kTimeout = std::chrono::milliseconds(2000);

// What one listing gathers, passed through libpulse's callbacks.
struct Listing {
    pa_threaded_mainloop* mainloop = nullptr;
    std::vector<AudioDeviceInfo> devices;
};

AudioDeviceInfo deviceInfo(const char* name, const char* description)
{
    AudioDeviceInfo device{name ? name : "", description ? description : ""};
    if (device.description.empty()) device.description = device.name;
    return device;
}

void onSource(pa_context*, const pa_source_info* info, int, void* userdata)
{
    auto* listing = static_cast<Listing*>(userdata);
    if (info && info->monitor_of_sink == PA_INVALID_INDEX)
        listing->devices.push_back(deviceInfo(info->name, info->description));
    pa_threaded_mainloop_signal(listing->mainloop, 0);
}

void onSink(pa_context*, const pa_sink_info* info, int, void* userdata)
{
    auto* listing = static_cast<Listing*>(userdata);
    if (info) listing->devices.push_back(deviceInfo(info->name, info->description));
    pa_threaded_mainloop_signal(listing->mainloop, 0);
}

// Connects, runs the one listing request and disconnects; empty when the server does not answer in time.
template <typename Request>
std::vector<AudioDeviceInfo> list(Request request)
{
    PulseAudioMainLoop::MainloopPtr mainloop(pa_threaded_mainloop_new());
    if (!mainloop) return {};
    PulseAudioMainLoop::ContextPtr context(
        pa_context_new(pa_threaded_mainloop_get_api(mainloop.get()), "transcription-corvane-devices"));
    if (!context || pa_threaded_mainloop_start(mainloop.get()) < 0) return {};

    Listing listing{mainloop.get(), {}};
    bool complete = false;
    {
        LoopLock lock(mainloop.get());
        if (PulseAudioMainLoop::connectContext(mainloop.get(), context.get(), kTimeout)) {
            Deadline deadline(mainloop.get(), context.get(), kTimeout);
            complete = PulseAudioMainLoop::awaitOperation(mainloop.get(), context.get(),
                                                          request(context.get(), &listing), deadline);
        }
        context.reset();
    }
    pa_threaded_mainloop_stop(mainloop.get());
    // Half a list would look like devices that vanished.
    return complete ? std::move(listing.devices) : std::vector<AudioDeviceInfo>{};
}

} // namespace

std::vector<AudioDeviceInfo> PulseAudioDeviceDirectory::inputs() const
{
    return list([](pa_context* context, Listing* listing) {
        return pa_context_get_source_info_list(context, &onSource, listing);
    });
}

std::vector<AudioDeviceInfo> PulseAudioDeviceDirectory::outputs() const
{
    return list(
        [](pa_context* context, Listing* listing) { return pa_context_get_sink_info_list(context, &onSink, listing); });
}

} // namespace tc
