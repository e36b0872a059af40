#include "TranscriptionUI/presentation/ViewModelSink.h"

#include "TranscriptionInfrastructure/diagnostics/LatencyTrace.h"
#include "TranscriptionUI/presentation/MainThreadHop.h"

#include <condition_variable>
#include <mutex>

namespace tc {

namespace {

struct Handled {
    std::mutex mutex;
    std::condition_variable_any done;
    bool isDone = false;
};

} // namespace

ViewModelSink::ViewModelSink(Handler model, std::shared_ptr<MainThreadHop> hop, std::stop_token stop)
    : m_model(model), m_hop(std::move(hop)), m_stop(std::move(stop))
{}

void ViewModelSink::emit(const OutputEvent& event)
{
    auto handled = std::make_shared<Handled>();
    const bool traced = event.kind == OutputEvent::Kind::finalizedTranscript && LatencyTrace::enabled();
    if (traced) LatencyTrace::mark("sink", event.text);
    // The handler touches the model only on the main thread, where the hop guarantees it is alive.
    const bool posted = m_hop->post([model = m_model, event, handled, traced] {
        if (traced) LatencyTrace::mark("ui", event.text);
        model(event);
        if (traced) LatencyTrace::mark("shown", event.text);
        {
            std::lock_guard lock(handled->mutex);
            handled->isDone = true;
        }
        handled->done.notify_all();
    });
    if (!posted) return;
    std::unique_lock lock(handled->mutex);
    handled->done.wait(lock, m_stop, [&] { return handled->isDone; });
}

} // namespace tc
