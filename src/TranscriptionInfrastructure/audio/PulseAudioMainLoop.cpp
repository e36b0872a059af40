#include "TranscriptionInfrastructure/audio/PulseAudioMainLoop.h"

#include <pulse/rtclock.h>

namespace tc {

namespace {

void signalOnStateChange(pa_context*, void* userdata)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

} // namespace

void PulseAudioMainLoop::ContextDeleter::operator()(pa_context* context) const
{
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void PulseAudioMainLoop::StreamDeleter::operator()(pa_stream* stream) const
{
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

PulseAudioMainLoop::Deadline::Deadline(pa_threaded_mainloop* mainloop, pa_context* context,
                                       std::chrono::milliseconds after)
    : m_mainloop(mainloop), m_api(pa_threaded_mainloop_get_api(mainloop))
{
    const auto usec = static_cast<pa_usec_t>(std::chrono::duration_cast<std::chrono::microseconds>(after).count());
    m_event = pa_context_rttime_new(context, pa_rtclock_now() + usec, &Deadline::fire, this);
}

PulseAudioMainLoop::Deadline::~Deadline()
{
    if (m_event) m_api->time_free(m_event);
}

void PulseAudioMainLoop::Deadline::fire(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    auto* self = static_cast<Deadline*>(userdata);
    self->m_passed = true;
    pa_threaded_mainloop_signal(self->m_mainloop, 0);
}

bool PulseAudioMainLoop::isContextGood(pa_context* context)
{
    const auto state = pa_context_get_state(context);
    return state != PA_CONTEXT_FAILED && state != PA_CONTEXT_TERMINATED;
}

bool PulseAudioMainLoop::connectContext(pa_threaded_mainloop* mainloop, pa_context* context,
                                        std::chrono::milliseconds timeout)
{
    pa_context_set_state_callback(context, &signalOnStateChange, mainloop);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    Deadline deadline(mainloop, context, timeout);
    for (;;) {
        const auto state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) return true;
        if (!PA_CONTEXT_IS_GOOD(state) || deadline.passed()) return false;
        pa_threaded_mainloop_wait(mainloop);
    }
}

bool PulseAudioMainLoop::awaitOperation(pa_threaded_mainloop* mainloop, pa_context* context, pa_operation* operation,
                                        const Deadline& deadline)
{
    if (!operation) return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !deadline.passed() && isContextGood(context))
        pa_threaded_mainloop_wait(mainloop);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    if (!done) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return done;
}

} // namespace tc
