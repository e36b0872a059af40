#include "TranscriptionInfrastructure/audio/PulseAudioCaptureSession.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <pthread.h>
#include <utility>

namespace tc {

namespace {

using LoopLock = PulseAudioMainLoop::Lock;
using Deadline = PulseAudioMainLoop::Deadline;
using StreamPtr = PulseAudioMainLoop::StreamPtr;

constexpr auto kConnectTimeout = std::chrono::milliseconds(5000);
constexpr int kMaxFailuresWithoutData = 3;

} // namespace

PulseAudioCaptureSession::PulseAudioCaptureSession(Device device, std::uint32_t bufferFrames,
                                                   const std::string& streamName, const std::string& chosenDevice,
                                                   Tap tap, Ended ended, FellBack fellBack)
    : m_device(device), m_bufferFrames(bufferFrames ? bufferFrames : 1), m_streamName(streamName),
      m_chosenDevice(chosenDevice), m_tap(std::move(tap)), m_ended(std::move(ended)), m_fellBack(std::move(fellBack))
{}

PulseAudioCaptureSession::~PulseAudioCaptureSession()
{
    if (m_mainloop) {
        {
            LoopLock lock(m_mainloop.get());
            m_closing = true;
            if (m_flushTimer) pa_threaded_mainloop_get_api(m_mainloop.get())->time_free(m_flushTimer);
            m_flushTimer = nullptr;
            m_stream.reset();
            m_context.reset();
        }
        pa_threaded_mainloop_stop(m_mainloop.get());
    }
    if (m_delivery.joinable()) {
        m_delivery.request_stop();
        m_delivery.join();
    }
}

Expected<void, PulseAudioError> PulseAudioCaptureSession::open()
{
    const auto failed = [](PulseAudioError::Kind kind, std::string detail) {
        return Unexpected{PulseAudioError(kind, std::move(detail))};
    };
    m_mainloop.reset(pa_threaded_mainloop_new());
    if (!m_mainloop) return failed(PulseAudioError::Kind::serverUnavailable, "main loop");
    m_context.reset(pa_context_new(pa_threaded_mainloop_get_api(m_mainloop.get()), m_streamName.c_str()));
    if (!m_context || pa_threaded_mainloop_start(m_mainloop.get()) < 0)
        return failed(PulseAudioError::Kind::serverUnavailable, "context");

    LoopLock lock(m_mainloop.get());
    if (!PulseAudioMainLoop::connectContext(m_mainloop.get(), m_context.get(), kConnectTimeout))
        return failed(PulseAudioError::Kind::serverUnavailable, pa_strerror(pa_context_errno(m_context.get())));

    // Shared with the lookup, which may outlive a timed-out wait here.
    struct Outcome {
        bool resolved = false;
        std::optional<Resolution> resolution;
    };
    auto outcome = std::make_shared<Outcome>();
    resolve([outcome, mainloop = m_mainloop.get()](std::optional<Resolution> r) {
        outcome->resolution = std::move(r);
        outcome->resolved = true;
        pa_threaded_mainloop_signal(mainloop, 0);
    });
    Deadline deadline(m_mainloop.get(), m_context.get(), kConnectTimeout);
    while (!outcome->resolved && !deadline.passed() && PulseAudioMainLoop::isContextGood(m_context.get()))
        pa_threaded_mainloop_wait(m_mainloop.get());
    if (!outcome->resolved || !outcome->resolution)
        return failed(outcome->resolved ? PulseAudioError::Kind::noDevice : PulseAudioError::Kind::serverUnavailable,
                      "no device");

    if (!openStream(*outcome->resolution))
        return failed(PulseAudioError::Kind::streamFailed, pa_strerror(pa_context_errno(m_context.get())));
    noteFallback(*outcome->resolution);
    for (;;) {
        const auto state = pa_stream_get_state(m_stream.get());
        if (state == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(state) || deadline.passed() || !PulseAudioMainLoop::isContextGood(m_context.get())) {
            m_stream.reset();
            return failed(PulseAudioError::Kind::streamFailed, pa_strerror(pa_context_errno(m_context.get())));
        }
        pa_threaded_mainloop_wait(m_mainloop.get());
    }
    m_opened = true;

    pa_context_set_state_callback(m_context.get(), &PulseAudioCaptureSession::onContextState, this);
    pa_context_set_subscribe_callback(m_context.get(), &PulseAudioCaptureSession::onServerEvent, this);
    if (auto* op = pa_context_subscribe(
            m_context.get(),
            static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE), nullptr,
            nullptr))
        pa_operation_unref(op);
    // A server that went away before the callbacks above were in place.
    if (!PulseAudioMainLoop::isContextGood(m_context.get())) end(PulseAudioError::Kind::serverUnavailable);

    m_delivery = std::jthread([this](std::stop_token stop) { deliver(stop); });
    return {};
}

CaptureFormat PulseAudioCaptureSession::format() const
{
    LoopLock lock(m_mainloop.get());
    return m_stream ? m_format : CaptureFormat{};
}

std::string PulseAudioCaptureSession::deviceName() const
{
    LoopLock lock(m_mainloop.get());
    return m_stream ? m_deviceName : std::string();
}

void PulseAudioCaptureSession::resolve(Resolved done)
{
    auto* lookup = new Lookup{this, std::move(done), std::nullopt, {}, false, false, {}};
    if (m_chosenDevice.empty()) return queryDefaults(m_context.get(), lookup);
    lookup->tryingChosen = true;
    queryChosen(m_context.get(), lookup);
}

void PulseAudioCaptureSession::queryChosen(pa_context* context, Lookup* lookup)
{
    const auto& chosen = lookup->session->m_chosenDevice;
    if (lookup->session->m_device == Device::defaultSource) {
        lookup->sourceName = chosen;
        return querySource(context, lookup);
    }
    auto* op = pa_context_get_sink_info_by_name(context, chosen.c_str(), &PulseAudioCaptureSession::onSinkInfo, lookup);
    if (!op) return finishLookup(lookup);
    pa_operation_unref(op);
}

void PulseAudioCaptureSession::queryDefaults(pa_context* context, Lookup* lookup)
{
    auto* op = pa_context_get_server_info(context, &PulseAudioCaptureSession::onServerInfo, lookup);
    if (!op) return finishLookup(lookup);
    pa_operation_unref(op);
}

void PulseAudioCaptureSession::fallBackOrFinish(pa_context* context, Lookup* lookup)
{
    if (!lookup->tryingChosen) return finishLookup(lookup);
    lookup->tryingChosen = false;
    lookup->fellBack = true;
    lookup->found.reset();
    lookup->sourceName.clear();
    lookup->description.clear();
    queryDefaults(context, lookup);
}

void PulseAudioCaptureSession::finishLookup(Lookup* lookup)
{
    std::unique_ptr<Lookup> owned(lookup);
    owned->done(std::move(owned->found));
}

void PulseAudioCaptureSession::onServerInfo(pa_context* context, const pa_server_info* info, void* userdata)
{
    auto* lookup = static_cast<Lookup*>(userdata);
    if (!info) return finishLookup(lookup);
    if (lookup->session->m_device == Device::defaultSource) {
        if (!info->default_source_name || !*info->default_source_name) return finishLookup(lookup);
        lookup->sourceName = info->default_source_name;
        return querySource(context, lookup);
    }
    if (!info->default_sink_name || !*info->default_sink_name) return finishLookup(lookup);
    auto* op = pa_context_get_sink_info_by_name(context, info->default_sink_name, &PulseAudioCaptureSession::onSinkInfo,
                                                lookup);
    if (!op) return finishLookup(lookup);
    pa_operation_unref(op);
}

void PulseAudioCaptureSession::onSinkInfo(pa_context* context, const pa_sink_info* info, int eol, void* userdata)
{
    auto* lookup = static_cast<Lookup*>(userdata);
    if (info && info->monitor_source_name) lookup->sourceName = info->monitor_source_name;
    if (info && info->description && lookup->tryingChosen) lookup->description = info->description;
    if (eol == 0) return;
    if (lookup->sourceName.empty()) return fallBackOrFinish(context, lookup);
    querySource(context, lookup);
}

void PulseAudioCaptureSession::querySource(pa_context* context, Lookup* lookup)
{
    auto* op = pa_context_get_source_info_by_name(context, lookup->sourceName.c_str(),
                                                  &PulseAudioCaptureSession::onSourceInfo, lookup);
    if (!op) return finishLookup(lookup);
    pa_operation_unref(op);
}

void PulseAudioCaptureSession::onSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* userdata)
{
    auto* lookup = static_cast<Lookup*>(userdata);
    const bool microphone = lookup->session->m_device == Device::defaultSource;
    if (info) {
        // A monitor is not a microphone: the default source falls back to one when no input exists.
        const bool monitor = info->monitor_of_sink != PA_INVALID_INDEX;
        if (microphone && monitor) {
            lookup->found.reset();
        } else {
            if (microphone && lookup->tryingChosen && info->description) lookup->description = info->description;
            lookup->found = Resolution{info->name, info->index,
                                       CaptureFormat{static_cast<double>(info->sample_spec.rate),
                                                     static_cast<std::uint32_t>(info->sample_spec.channels)},
                                       lookup->tryingChosen ? lookup->description : std::string(), lookup->fellBack};
        }
    }
    if (eol == 0) return;
    if (!lookup->found) return fallBackOrFinish(context, lookup);
    finishLookup(lookup);
}

bool PulseAudioCaptureSession::openStream(const Resolution& resolution)
{
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_FLOAT32NE;
    sampleFormat.rate = static_cast<std::uint32_t>(resolution.format.sampleRate);
    sampleFormat.channels = static_cast<std::uint8_t>(resolution.format.channels);
    if (!pa_sample_spec_valid(&sampleFormat)) return false;

    StreamPtr stream(pa_stream_new(m_context.get(), m_streamName.c_str(), &sampleFormat, nullptr));
    if (!stream) return false;
    pa_stream_set_read_callback(stream.get(), &PulseAudioCaptureSession::onReadable, this);
    pa_stream_set_state_callback(stream.get(), &PulseAudioCaptureSession::onStreamState, this);

    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = m_bufferFrames * static_cast<std::uint32_t>(pa_frame_size(&sampleFormat));
    // Pinned to this device: following a new default is our decision, with the new device's format.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream.get(), resolution.name.c_str(), &attributes, flags) < 0) return false;

    deliverPending(m_pending.interleaved.size());
    if (m_format.sampleRate > 0) m_baseSeconds += static_cast<double>(m_framesInStream) / m_format.sampleRate;
    m_framesInStream = 0;
    m_stream = std::move(stream);
    m_deviceName = resolution.name;
    m_deviceIndex = resolution.index;
    m_format = resolution.format;
    return true;
}

void PulseAudioCaptureSession::onReadable(pa_stream* stream, std::size_t, void* userdata)
{
    auto* self = static_cast<PulseAudioCaptureSession*>(userdata);
    if (stream != self->m_stream.get()) return;
    const std::size_t channels = self->m_format.channels;
    const std::size_t frameBytes = channels * sizeof(float);
    const std::size_t blockSamples = std::size_t{self->m_bufferFrames} * channels;
    const auto basePosition = std::llround(self->m_baseSeconds * self->m_format.sampleRate);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
        const std::size_t frames = bytes / frameBytes;
        if (data) {
            if (self->m_pending.interleaved.empty()) {
                self->m_pending.samplePosition = basePosition + self->m_framesInStream;
                self->m_pendingSince = pa_rtclock_now();
            }
            const auto* samples = static_cast<const float*>(data);
            self->m_pending.interleaved.insert(self->m_pending.interleaved.end(), samples, samples + frames * channels);
            while (self->m_pending.interleaved.size() >= blockSamples)
                self->deliverPending(blockSamples);
            self->m_failuresWithoutData = 0;
        } else {
            // A hole: what came before it goes out alone, and the clock moves on.
            self->deliverPending(self->m_pending.interleaved.size());
        }
        self->m_framesInStream += static_cast<std::int64_t>(frames);
        pa_stream_drop(stream);
    }
    if (!self->m_pending.interleaved.empty()) self->armFlushTimer();
}

void PulseAudioCaptureSession::deliverPending(std::size_t samples)
{
    if (samples == 0 || m_pending.interleaved.empty()) return;
    CaptureBuffer buffer;
    buffer.format = m_format;
    buffer.samplePosition = m_pending.samplePosition;
    const auto end = m_pending.interleaved.begin() + static_cast<std::ptrdiff_t>(samples);
    buffer.interleaved.assign(m_pending.interleaved.begin(), end);
    m_pending.interleaved.erase(m_pending.interleaved.begin(), end);
    m_pending.samplePosition += static_cast<std::int64_t>(samples / std::max<std::size_t>(m_format.channels, 1));
    m_pendingSince = pa_rtclock_now();
    m_queue.push(Delivery{std::move(buffer), false, {}, {}});
}

void PulseAudioCaptureSession::armFlushTimer()
{
    if (!(m_format.sampleRate > 0)) return;
    const auto due = m_pendingSince + static_cast<pa_usec_t>(2e6 * m_bufferFrames / m_format.sampleRate);
    if (!m_flushTimer)
        m_flushTimer = pa_context_rttime_new(m_context.get(), due, &PulseAudioCaptureSession::onFlushTimer, this);
    else
        pa_context_rttime_restart(m_context.get(), m_flushTimer, due);
}

void PulseAudioCaptureSession::onFlushTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                                            void* userdata)
{
    auto* self = static_cast<PulseAudioCaptureSession*>(userdata);
    api->time_restart(event, nullptr);
    if (!self->m_closing) self->deliverPending(self->m_pending.interleaved.size());
}

void PulseAudioCaptureSession::onStreamState(pa_stream* stream, void* userdata)
{
    auto* self = static_cast<PulseAudioCaptureSession*>(userdata);
    if (!self->m_opened) {
        pa_threaded_mainloop_signal(self->m_mainloop.get(), 0);
        return;
    }
    if (stream != self->m_stream.get() || self->m_closing) return;
    const auto state = pa_stream_get_state(stream);
    // The device went away under the stream: follow whatever is the default now, or end.
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        self->m_stream.reset();
        // A device that keeps refusing the stream is as good as gone.
        if (++self->m_failuresWithoutData > kMaxFailuresWithoutData)
            return self->end(PulseAudioError::Kind::streamFailed);
        self->refollow();
    }
}

void PulseAudioCaptureSession::onContextState(pa_context* context, void* userdata)
{
    auto* self = static_cast<PulseAudioCaptureSession*>(userdata);
    if (!PulseAudioMainLoop::isContextGood(context)) self->end(PulseAudioError::Kind::serverUnavailable);
}

void PulseAudioCaptureSession::onServerEvent(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                                             void* userdata)
{
    auto* self = static_cast<PulseAudioCaptureSession*>(userdata);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    const bool serverChanged = facility == PA_SUBSCRIPTION_EVENT_SERVER;
    const bool ourSourceChanged =
        facility == PA_SUBSCRIPTION_EVENT_SOURCE && index == self->m_deviceIndex && kind != PA_SUBSCRIPTION_EVENT_NEW;
    // The new source may be the chosen device coming back (a sink's monitor appears with its sink).
    const bool maybeChosenBack =
        self->m_fallenBack && facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind == PA_SUBSCRIPTION_EVENT_NEW;
    if (serverChanged || ourSourceChanged || maybeChosenBack) self->refollow();
}

void PulseAudioCaptureSession::refollow()
{
    if (m_closing || m_endSent) return;
    if (m_lookupRunning) {
        m_lookupAgain = true;
        return;
    }
    m_lookupRunning = true;
    resolve([this](std::optional<Resolution> resolution) {
        m_lookupRunning = false;
        if (m_closing || m_endSent) return;
        if (!resolution) return end(PulseAudioError::Kind::noDevice);
        const bool same = m_stream && resolution->name == m_deviceName && resolution->format == m_format;
        if (!same) {
            m_stream.reset();
            if (!openStream(*resolution)) return end(PulseAudioError::Kind::streamFailed);
        }
        noteFallback(*resolution);
        if (std::exchange(m_lookupAgain, false)) refollow();
    });
}

void PulseAudioCaptureSession::noteFallback(const Resolution& resolution)
{
    if (m_chosenDevice.empty()) return;
    if (!resolution.fellBack) {
        m_fallenBack = false;
        if (!resolution.description.empty()) m_chosenDescription = resolution.description;
        return;
    }
    if (std::exchange(m_fallenBack, true)) return;
    Delivery notice;
    notice.fellBackFrom = m_chosenDescription.empty() ? m_chosenDevice : m_chosenDescription;
    m_queue.push(std::move(notice));
}

void PulseAudioCaptureSession::end(PulseAudioError::Kind why)
{
    if (m_closing || m_endSent) return;
    m_endSent = true;
    m_stream.reset();
    deliverPending(m_pending.interleaved.size());
    // A lost server also fails the stream and the lookups first: name the cause, not its symptoms.
    if (!PulseAudioMainLoop::isContextGood(m_context.get())) why = PulseAudioError::Kind::serverUnavailable;
    m_queue.push(Delivery{{}, true, why, {}});
}

void PulseAudioCaptureSession::deliver(std::stop_token stop)
{
    pthread_setname_np(pthread_self(), "tc-capture");
    for (;;) {
        auto item = m_queue.pop(stop);
        if (!item) return;
        if (item->endOfCapture) {
            if (m_ended) m_ended(item->why);
            return;
        }
        if (!item->fellBackFrom.empty()) {
            if (m_fellBack) m_fellBack(item->fellBackFrom);
            continue;
        }
        if (m_tap) m_tap(item->buffer);
    }
}

} // namespace tc
