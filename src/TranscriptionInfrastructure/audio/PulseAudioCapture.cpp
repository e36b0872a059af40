#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include "TranscriptionInfrastructure/audio/PulseAudioCaptureSession.h"
#include "TranscriptionInfrastructure/audio/PulseAudioMainLoop.h"

#include <utility>

namespace tc {

namespace {

using LoopLock = PulseAudioMainLoop::Lock;
using Deadline = PulseAudioMainLoop::Deadline;
using MainloopPtr = PulseAudioMainLoop::MainloopPtr;
using ContextPtr = PulseAudioMainLoop::ContextPtr;

} // namespace

PulseAudioError::PulseAudioError(Kind kind, std::string detail) : m_kind(kind), m_detail(std::move(detail)) {}

PulseAudioServerProbe PulseAudioCapture::probeServer(std::chrono::milliseconds timeout)
{
    PulseAudioServerProbe probe;
    MainloopPtr mainloop(pa_threaded_mainloop_new());
    if (!mainloop) return probe;
    ContextPtr context(pa_context_new(pa_threaded_mainloop_get_api(mainloop.get()), "transcription-corvane-probe"));
    if (!context || pa_threaded_mainloop_start(mainloop.get()) < 0) return probe;

    struct Found {
        pa_threaded_mainloop* mainloop = nullptr;
        bool captureSource = false;
        std::string defaultSink;
        bool monitor = false;
    } found;
    found.mainloop = mainloop.get();
    {
        LoopLock lock(mainloop.get());
        if (PulseAudioMainLoop::connectContext(mainloop.get(), context.get(), timeout)) {
            probe.reachable = true;
            Deadline deadline(mainloop.get(), context.get(), timeout);
            auto* sources = pa_context_get_source_info_list(
                context.get(),
                [](pa_context*, const pa_source_info* info, int, void* userdata) {
                    auto* f = static_cast<Found*>(userdata);
                    if (info && info->monitor_of_sink == PA_INVALID_INDEX) f->captureSource = true;
                    pa_threaded_mainloop_signal(f->mainloop, 0);
                },
                &found);
            PulseAudioMainLoop::awaitOperation(mainloop.get(), context.get(), sources, deadline);
            auto* server = pa_context_get_server_info(
                context.get(),
                [](pa_context*, const pa_server_info* info, void* userdata) {
                    auto* f = static_cast<Found*>(userdata);
                    if (info && info->default_sink_name) f->defaultSink = info->default_sink_name;
                    pa_threaded_mainloop_signal(f->mainloop, 0);
                },
                &found);
            if (PulseAudioMainLoop::awaitOperation(mainloop.get(), context.get(), server, deadline) &&
                !found.defaultSink.empty()) {
                auto* sink = pa_context_get_sink_info_by_name(
                    context.get(), found.defaultSink.c_str(),
                    [](pa_context*, const pa_sink_info* info, int, void* userdata) {
                        auto* f = static_cast<Found*>(userdata);
                        if (info && info->monitor_source_name && *info->monitor_source_name) f->monitor = true;
                        pa_threaded_mainloop_signal(f->mainloop, 0);
                    },
                    &found);
                PulseAudioMainLoop::awaitOperation(mainloop.get(), context.get(), sink, deadline);
            }
            probe.hasCaptureSource = found.captureSource;
            probe.defaultSinkHasMonitor = found.monitor;
        }
        context.reset();
    }
    pa_threaded_mainloop_stop(mainloop.get());
    return probe;
}

PulseAudioCapture::PulseAudioCapture(Device device, std::uint32_t bufferFrames, std::string streamName,
                                     std::string chosenDevice)
    : m_device(device), m_bufferFrames(bufferFrames), m_streamName(std::move(streamName)),
      m_chosenDevice(std::move(chosenDevice))
{}

PulseAudioCapture::~PulseAudioCapture()
{
    stop();
}

Expected<void, PulseAudioError> PulseAudioCapture::start(Tap tap, Ended ended, FellBack fellBack)
{
    std::lock_guard lock(m_mutex);
    m_session.reset();
    auto session = std::make_unique<PulseAudioCaptureSession>(m_device, m_bufferFrames, m_streamName, m_chosenDevice,
                                                              std::move(tap), std::move(ended), std::move(fellBack));
    if (auto opened = session->open(); !opened) return opened;
    m_session = std::move(session);
    return {};
}

void PulseAudioCapture::stop()
{
    std::unique_ptr<PulseAudioCaptureSession> session;
    {
        std::lock_guard lock(m_mutex);
        session = std::move(m_session);
    }
}

CaptureFormat PulseAudioCapture::format() const
{
    std::lock_guard lock(m_mutex);
    return m_session ? m_session->format() : CaptureFormat{};
}

std::string PulseAudioCapture::deviceName() const
{
    std::lock_guard lock(m_mutex);
    return m_session ? m_session->deviceName() : std::string();
}

} // namespace tc
